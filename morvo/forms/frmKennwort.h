// Asks for the password of a mail account that was found without one. An answer is kept for
// the session, in memory only, so that each start of a run does not ask again.
#pragma once

#include <QDialog>

#include "morvo/outlook/discovery.h"

class QLineEdit;
class QPushButton;
class QLabel;

namespace morvo {

class frmKennwort : public QDialog {
    Q_OBJECT
  public:
    explicit frmKennwort(const outlook::StoreConfig& store, QWidget* parent = nullptr);

    QLabel* lblKonto = nullptr;
    QLineEdit* txtKennwort = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdAbbrechen = nullptr;
};

// The window's way to ask: frmKennwort once per account and session.
outlook::PasswordSource window_password_source();

}  // namespace morvo
