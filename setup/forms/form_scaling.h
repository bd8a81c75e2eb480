#pragma once
// Layout scaling applied to Qt windows: the form's controls (its named descendants) are read and
// written in twips (15 twips per pixel); fonts in points.
#include <QWidget>

#include "setup/scaling.h"

namespace setup {

// A line control: its ends in twips, relative to the parent.
class Line : public QWidget {
    Q_OBJECT
  public:
    explicit Line(QWidget* parent = nullptr);
    void set_ends(double x1, double y1, double x2, double y2);
    double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    void place();
};

// Runs the algorithm on a Qt form with the screen of the platform layer.
void scale_qt_form(QWidget* FRM, bool ScaleForm, bool ScaleFont, ScaleCopy copy);

// ScaleLayout (the module procedure) on a Qt form.
void ScaleLayout(QWidget* FRM, bool ScaleForm, bool ScaleFont);

// GetScreenInfo on the platform layer's screen.
ScreenInfo GetScreenInfo();

}  // namespace setup
