#include "platform/ui/scripted_user.h"

#include "platform/ui/program.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdlib>

#include "platform/text.h"
#include "platform/transcript.h"

namespace platform::ui {
namespace {

ScriptedUser* g_instance = nullptr;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string quoted(const QString& s) {
    return transcript_quote(s.toStdString());
}

// ---- parsing ------------------------------------------------------------------------------

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted texts; a '#' outside quotes ends the line. `consumed`
// receives the length of the line up to the comment.
bool tokenize(const std::string& line, std::vector<Token>& out, size_t& consumed,
              std::string& error) {
    size_t i = 0;
    consumed = line.size();
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (c == '#') {
            consumed = i;
            break;
        }
        Token t;
        if (c == '"') {
            std::string raw;
            size_t j = i + 1;
            bool closed = false;
            for (; j < line.size(); ++j) {
                if (line[j] == '\\' && j + 1 < line.size()) {
                    raw += line[j];
                    raw += line[++j];
                } else if (line[j] == '"') {
                    closed = true;
                    break;
                } else {
                    raw += line[j];
                }
            }
            if (!closed) {
                error = "unterminated text";
                return false;
            }
            t.text = transcript_unescape(raw);
            t.quoted = true;
            i = j + 1;
        } else {
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
            t.text = line.substr(i, j - i);
            i = j;
        }
        out.push_back(std::move(t));
    }
    return true;
}

std::string trim(const std::string& s) {
    return std::string(platform::trimmed(s));
}

bool is_number(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

void split_target(Step& step, const std::string& target) {
    size_t dot = target.find('.');
    if (dot == std::string::npos) {
        step.form = target;
    } else {
        step.form = target.substr(0, dot);
        step.control = target.substr(dot + 1);
    }
}

StepKind step_kind(const std::string& name) {
    static const std::pair<const char*, StepKind> kinds[] = {
        {"answer", StepKind::Answer}, {"click", StepKind::Click},   {"type", StepKind::Type},
        {"tick", StepKind::Tick},     {"select", StepKind::Select}, {"open", StepKind::Open},
        {"key", StepKind::Key},       {"wait", StepKind::Wait},     {"shot", StepKind::Shot},
        {"dump", StepKind::Dump}};
    for (const auto& [n, k] : kinds) {
        if (name == n) return k;
    }
    return StepKind::Unknown;
}

void parse_step(Step& step, const std::vector<Token>& tokens) {
    const StepKind kind = step_kind(tokens[0].text);
    step.kind = kind;
    auto need = [&](bool ok, const char* what) {
        if (!ok && step.error.empty()) step.error = what;
    };
    std::vector<Token> rest(tokens.begin() + 1, tokens.end());
    auto word_at = [&](size_t i) { return i < rest.size() && !rest[i].quoted; };
    auto text_at = [&](size_t i) { return i < rest.size() && rest[i].quoted; };

    if (kind == StepKind::Answer) {
        Result r;
        need(word_at(0) && parse_result_name(rest[0].text, r),
             "expected Yes, No, OK, Cancel, Retry, Ignore or Abort");
        if (word_at(0)) step.words.push_back(rest[0].text);
        if (rest.size() > 1) {
            need(word_at(1) && rest[1].text == "if" && text_at(2) && rest.size() == 3,
                 "expected: answer BUTTON [if \"fragment\"]");
            if (text_at(2)) step.texts.push_back(rest[2].text);
        }
    } else if (kind == StepKind::Click || kind == StepKind::Dump) {
        need(rest.size() == 1 && word_at(0), "expected FORM.CONTROL");
        if (word_at(0)) split_target(step, rest[0].text);
        if (kind == StepKind::Click) need(!step.control.empty(), "expected FORM.CONTROL");
    } else if (kind == StepKind::Type || kind == StepKind::Select || kind == StepKind::Open) {
        need(rest.size() == 2 && word_at(0) && text_at(1), "expected FORM.CONTROL \"text\"");
        if (word_at(0)) split_target(step, rest[0].text);
        if (text_at(1)) step.texts.push_back(rest[1].text);
        need(!step.control.empty(), "expected FORM.CONTROL");
    } else if (kind == StepKind::Tick) {
        need(word_at(0), "expected FORM.CONTROL [\"path\"] [off]");
        if (word_at(0)) split_target(step, rest[0].text);
        need(!step.control.empty(), "expected FORM.CONTROL");
        size_t i = 1;
        if (text_at(i)) step.texts.push_back(rest[i++].text);
        if (word_at(i)) {
            need(rest[i].text == "off", "expected off");
            step.words.push_back(rest[i++].text);
        }
        need(i == rest.size(), "expected FORM.CONTROL [\"path\"] [off]");
    } else if (kind == StepKind::Key) {
        need(rest.size() == 2 && word_at(0) && word_at(1), "expected FORM KEY");
        if (word_at(0)) step.form = rest[0].text;
        if (word_at(1)) step.words.push_back(rest[1].text);
    } else if (kind == StepKind::Wait) {
        need(word_at(0), "expected FORM [CONTROL \"text\"] [SECONDS]");
        if (word_at(0)) step.form = rest[0].text;
        size_t i = 1;
        if (word_at(i) && text_at(i + 1)) {
            step.control = rest[i].text;
            step.texts.push_back(rest[i + 1].text);
            i += 2;
        }
        if (word_at(i)) {
            need(is_number(rest[i].text), "expected SECONDS");
            step.words.push_back(rest[i++].text);
        }
        need(i == rest.size(), "expected FORM [CONTROL \"text\"] [SECONDS]");
    } else if (kind == StepKind::Shot) {
        need(rest.size() == 1, "expected FILE.png");
        if (!rest.empty()) step.form = rest[0].text;
    } else {
        step.error = "unknown step";
    }
}

// ---- finding things ----------------------------------------------------------------------

QString strip_mnemonic(QString s) {
    s.replace("&&", QString(QChar(0x1)));
    s.remove('&');
    s.replace(QChar(0x1), "&");
    return s;
}

QList<QWidget*> shown_windows() {
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && w->windowType() != Qt::Desktop) out.append(w);
    return out;
}

// The item of an item view by its full path ("A|B|C"), or by its text anywhere in the view.
QModelIndex find_index(QAbstractItemView* view, const QString& path) {
    QAbstractItemModel* model = view->model();
    if (!model) return {};
    const QModelIndex root = view->rootIndex();
    QStringList parts = path.split('|');
    QModelIndex parent = root;
    QModelIndex found;
    for (const QString& part : parts) {
        found = QModelIndex();
        for (int r = 0; r < model->rowCount(parent); ++r) {
            QModelIndex i = model->index(r, 0, parent);
            if (i.data(Qt::DisplayRole).toString() == part) {
                found = i;
                break;
            }
        }
        if (!found.isValid()) break;
        parent = found;
    }
    if (found.isValid()) return found;
    // A folder list names its entries by their text alone.
    QModelIndexList hits = model->match(model->index(0, 0, root), Qt::DisplayRole, path, 1,
                                        Qt::MatchExactly | Qt::MatchRecursive);
    return hits.isEmpty() ? QModelIndex() : hits.first();
}

void send_mouse(QWidget* target, QEvent::Type type, QPoint pos) {
    QPointF local(pos);
    QPointF global(target->mapToGlobal(pos));
    Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, local, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void mouse_click(QWidget* target, QPoint pos, bool double_click = false) {
    send_mouse(target, QEvent::MouseButtonPress, pos);
    send_mouse(target, QEvent::MouseButtonRelease, pos);
    if (double_click) {
        send_mouse(target, QEvent::MouseButtonDblClick, pos);
        send_mouse(target, QEvent::MouseButtonRelease, pos);
    }
}

void send_key(QWidget* target, int key, Qt::KeyboardModifiers mods, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(target, &release);
}

bool parse_key(const QString& name, int& key, Qt::KeyboardModifiers& mods, QString& text) {
    static const QMap<QString, int> names = {
        {"esc", Qt::Key_Escape},
        {"escape", Qt::Key_Escape},
        {"enter", Qt::Key_Return},
        {"return", Qt::Key_Return},
        {"tab", Qt::Key_Tab},
        {"space", Qt::Key_Space},
        {"backspace", Qt::Key_Backspace},
        {"delete", Qt::Key_Delete},
        {"del", Qt::Key_Delete},
        {"insert", Qt::Key_Insert},
        {"home", Qt::Key_Home},
        {"end", Qt::Key_End},
        {"pageup", Qt::Key_PageUp},
        {"pgup", Qt::Key_PageUp},
        {"pagedown", Qt::Key_PageDown},
        {"pgdn", Qt::Key_PageDown},
        {"up", Qt::Key_Up},
        {"down", Qt::Key_Down},
        {"left", Qt::Key_Left},
        {"right", Qt::Key_Right},
    };
    mods = Qt::NoModifier;
    QStringList parts = name.split('+');
    QString base = parts.takeLast();
    for (const QString& m : parts) {
        QString l = m.toLower();
        if (l == "ctrl" || l == "control")
            mods |= Qt::ControlModifier;
        else if (l == "alt")
            mods |= Qt::AltModifier;
        else if (l == "shift")
            mods |= Qt::ShiftModifier;
        else
            return false;
    }
    QString lower = base.toLower();
    text.clear();
    if (names.contains(lower)) {
        key = names.value(lower);
        if (key == Qt::Key_Return) text = "\r";
        if (key == Qt::Key_Escape) text = QString(QChar(0x1b));
        if (key == Qt::Key_Space) text = " ";
        if (key == Qt::Key_Tab) text = "\t";
        if (key == Qt::Key_Backspace) text = "\b";
        return true;
    }
    if (lower.size() >= 2 && lower[0] == 'f') {
        bool ok = false;
        int n = lower.mid(1).toInt(&ok);
        if (ok && n >= 1 && n <= 24) {
            key = Qt::Key_F1 + n - 1;
            return true;
        }
    }
    if (base.size() == 1) {
        QChar c = base[0];
        key = c.toUpper().unicode();
        if (!(mods & (Qt::ControlModifier | Qt::AltModifier))) text = base;
        return true;
    }
    return false;
}

QWidget* widget_of(QObject* o) {
    return qobject_cast<QWidget*>(o);
}

bool visible_and_enabled(QObject* c, QString& why) {
    if (auto* a = qobject_cast<QAction*>(c)) {
        if (!a->isEnabled()) why = "not enabled";
        return a->isEnabled();
    }
    QWidget* w = widget_of(c);
    if (!w) return true;
    if (!w->isVisible()) {
        why = "not visible";
        return false;
    }
    if (!w->isEnabled()) {
        why = "not enabled";
        return false;
    }
    return true;
}

// Types text as key presses, so that every change and key handler fires as for a person.
void type_into(QWidget* w, const QString& text) {
    for (uint code : text.toUcs4()) {
        QString s = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        if (code == '\n' || code == '\r') {
            if (code == '\n') send_key(w, Qt::Key_Return, Qt::NoModifier, "\r");
            continue;
        }
        int key = code < 128 ? QChar(code).toUpper().unicode() : 0;
        send_key(w, key, Qt::NoModifier, s);
    }
}

}  // namespace

// ---- parse_script -------------------------------------------------------------------------

std::vector<Step> parse_script(const std::string& script) {
    std::vector<Step> steps;
    size_t pos = 0;
    while (pos <= script.size()) {
        size_t nl = script.find('\n', pos);
        std::string line =
            script.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? script.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<Token> tokens;
        size_t consumed = 0;
        std::string error;
        bool ok = tokenize(line, tokens, consumed, error);
        if (ok && tokens.empty()) continue;
        Step step;
        step.number = static_cast<int>(steps.size()) + 1;
        step.text = trim(line.substr(0, consumed));
        if (!ok)
            step.error = error;
        else
            parse_step(step, tokens);
        steps.push_back(std::move(step));
    }
    return steps;
}

// ---- lookups -------------------------------------------------------------------------------

QWidget* find_form(const QString& form) {
    QWidget* hidden = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != form) continue;
        if (w->isVisible()) return w;
        if (!hidden) hidden = w;
    }
    return hidden;
}

QObject* find_control(QWidget* form, const QString& control) {
    if (!form) return nullptr;
    if (control.isEmpty()) return form;
    // A control of the form itself wins over one of a window it owns.
    const QList<QObject*> all = form->findChildren<QObject*>(control);
    for (QObject* o : all) {
        QWidget* w = widget_of(o);
        if (!w || w->window() == form) return o;
    }
    return all.isEmpty() ? nullptr : all.first();
}

QString control_text(QObject* c) {
    if (!c) return {};
    if (auto* w = qobject_cast<QLabel*>(c)) return w->text();
    if (auto* w = qobject_cast<QAbstractButton*>(c)) return w->text();
    if (auto* w = qobject_cast<QLineEdit*>(c)) return w->text();
    if (auto* w = qobject_cast<QTextEdit*>(c)) return w->toPlainText();
    if (auto* w = qobject_cast<QPlainTextEdit*>(c)) return w->toPlainText();
    if (auto* w = qobject_cast<QComboBox*>(c)) return w->currentText();
    if (auto* w = qobject_cast<QTabWidget*>(c))
        return strip_mnemonic(w->tabText(w->currentIndex()));
    if (auto* w = qobject_cast<QTabBar*>(c)) return strip_mnemonic(w->tabText(w->currentIndex()));
    if (auto* w = qobject_cast<QProgressBar*>(c)) return QString::number(w->value());
    if (auto* w = qobject_cast<QAbstractSpinBox*>(c)) return w->text();
    if (auto* w = qobject_cast<QGroupBox*>(c)) return w->title();
    if (auto* w = qobject_cast<QAction*>(c)) return w->text();
    if (auto* w = qobject_cast<QStatusBar*>(c)) {
        if (!w->currentMessage().isEmpty()) return w->currentMessage();
        QStringList parts;
        for (QLabel* l : w->findChildren<QLabel*>()) parts << l->text();
        return parts.join('\n');
    }
    if (auto* w = qobject_cast<QAbstractItemView*>(c))
        return w->currentIndex().data(Qt::DisplayRole).toString();
    if (auto* w = widget_of(c); w && w->isWindow()) return w->windowTitle();
    return c->property("text").toString();
}

QStringList dump_lines(const QString& name, QObject* c) {
    QStringList lines;
    QWidget* w = widget_of(c);
    auto flags = [&]() {
        QString f;
        bool hidden = false, disabled = false;
        if (w) {
            hidden = w->isWindow() ? !w->isVisible() : !w->isVisibleTo(w->window());
            disabled = w->isWindow() ? !w->isEnabled() : !w->isEnabledTo(w->window());
        } else if (auto* a = qobject_cast<QAction*>(c)) {
            hidden = !a->isVisible();
            disabled = !a->isEnabled();
        }
        if (hidden) f += " hidden";
        if (disabled) f += " disabled";
        return f;
    };
    auto value = [&](const QString& text) {
        lines << "value " + name + " " + q(quoted(text)) + flags();
    };
    if (auto* tree = qobject_cast<QTreeView*>(c); tree && tree->model()) {
        QAbstractItemModel* m = tree->model();
        int n = 0;
        std::function<void(const QModelIndex&, const QString&)> walk = [&](const QModelIndex& p,
                                                                           const QString& prefix) {
            for (int r = 0; r < m->rowCount(p); ++r) {
                QModelIndex i = m->index(r, 0, p);
                QString path =
                    prefix.isEmpty() ? i.data().toString() : prefix + "|" + i.data().toString();
                bool ticked = i.data(Qt::CheckStateRole).toInt() == Qt::Checked;
                lines << QString("node %1 %2 %3")
                             .arg(++n)
                             .arg(q(quoted(path)))
                             .arg(ticked ? "ticked" : "unticked");
                walk(i, path);
            }
        };
        walk(tree->rootIndex(), QString());
        return lines;
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(c); view && view->model()) {
        QStringList items;
        QAbstractItemModel* m = view->model();
        for (int r = 0; r < m->rowCount(view->rootIndex()); ++r)
            items << m->index(r, 0, view->rootIndex()).data().toString();
        value(items.join('\n'));
        return lines;
    }
    if (auto* box = qobject_cast<QCheckBox*>(c)) {
        value(QString::number(static_cast<int>(box->checkState()) == Qt::Checked            ? 1
                              : static_cast<int>(box->checkState()) == Qt::PartiallyChecked ? 2
                                                                                            : 0));
        return lines;
    }
    if (auto* radio = qobject_cast<QRadioButton*>(c)) {
        value(radio->isChecked() ? "True" : "False");
        return lines;
    }
    value(control_text(c));
    return lines;
}

// ---- ScriptedUser -------------------------------------------------------------------------

ScriptedUser::ScriptedUser(std::vector<Step> steps, std::function<void(int)> on_failure,
                           QObject* parent)
    : QObject(parent), steps_(std::move(steps)), on_failure_(std::move(on_failure)) {
    g_instance = this;
    if (const char* t = std::getenv("VELTRIN_TRANSCRIPT"); t && *t)
        shot_folder_ = QFileInfo(QString::fromLocal8Bit(t)).absolutePath();
    timer_ = new QTimer(this);
    timer_->setInterval(20);
    connect(timer_, &QTimer::timeout, this, &ScriptedUser::poll);
}

ScriptedUser::~ScriptedUser() {
    if (g_instance == this) g_instance = nullptr;
}

ScriptedUser* ScriptedUser::instance() {
    return g_instance;
}

void ScriptedUser::begin() {
    timer_->start();
    QTimer::singleShot(0, this, &ScriptedUser::poll);
}

void ScriptedUser::fail(const Step& step, const QString& why) {
    if (failed_) return;
    failed_ = true;
    timer_->stop();
    current_.reset();
    next_ = steps_.size();
    transcript_line("step " + std::to_string(step.number) + " failed: " + step.text + ": " +
                    why.toStdString());
    if (on_failure_) on_failure_(3);
}

void ScriptedUser::poll() {
    if (in_poll_ || failed_ || painting_only()) return;
    if (!current_) {
        if (next_ >= steps_.size()) {
            timer_->stop();
            return;
        }
        current_ = next_++;
        current_started_ms_ = QDateTime::currentMSecsSinceEpoch();
    }
    const Step& step = steps_[*current_];
    in_poll_ = true;
    QString why;
    std::function<void()> action;
    Outcome outcome = run_step(step, why, action);
    in_poll_ = false;
    if (outcome == Outcome::Failed) {
        fail(step, why);
        return;
    }
    if (outcome == Outcome::Pending) {
        int limit = timeout_ms_;
        if (step.kind == StepKind::Wait && !step.words.empty())
            limit = static_cast<int>(std::strtod(step.words[0].c_str(), nullptr) * 1000);
        if (QDateTime::currentMSecsSinceEpoch() - current_started_ms_ > limit)
            fail(step, why.isEmpty() ? QString("timed out") : why);
        return;
    }
    // Done: the step counts as taken before its action runs, so that a message box or a modal
    // window opened by the action meets the following step.
    current_.reset();
    transcript_line("step " + std::to_string(step.number) + " ok: " + step.text);
    if (action) action();
    if (!failed_ && next_ < steps_.size()) QTimer::singleShot(0, this, &ScriptedUser::poll);
}

Result ScriptedUser::answer_box(const MsgBoxRequest& request) {
    size_t index = current_ ? *current_ : next_;
    bool taken = !failed_ && index < steps_.size() && steps_[index].kind == StepKind::Answer &&
                 steps_[index].error.empty();
    if (!taken) {
        Result r = default_result(request);
        transcript_line(msgbox_transcript_line(request, r, true));
        return r;
    }
    const Step& step = steps_[index];
    Result answer = Result::OK;
    parse_result_name(step.words[0], answer);
    if (!step.texts.empty()) {
        const std::string& fragment = step.texts[0];
        if (request.title.find(fragment) == std::string::npos &&
            request.text.find(fragment) == std::string::npos) {
            Result r = default_result(request);
            transcript_line(msgbox_transcript_line(request, r, true));
            fail(step, "the message box does not hold " + q(transcript_quote(fragment)));
            return r;
        }
    }
    if (!box_has(request.buttons, answer)) {
        Result r = default_result(request);
        transcript_line(msgbox_transcript_line(request, r, true));
        fail(step, "the message box has no button " + q(step.words[0]));
        return r;
    }
    transcript_line(msgbox_transcript_line(request, answer, false));
    transcript_line("step " + std::to_string(step.number) + " ok: " + step.text);
    current_.reset();
    if (index >= next_) next_ = index + 1;
    QTimer::singleShot(0, this, &ScriptedUser::poll);
    return answer;
}

namespace {

using Outcome = ScriptedUser::Outcome;

// What a step that acts on a control works with.
struct Target {
    QObject* control;
    QPointer<QObject> guard;
    QString name;  // FORM.CONTROL
    QString text;  // the step's first quoted text, or ""
};

// Owned windows are painted over their owners (deeper ownership later); among windows of one
// depth the active one last.
Outcome take_shot(const QString& file, QString& why) {
    QList<QWidget*> windows = shown_windows();
    if (windows.isEmpty()) {
        why = "no window shown";
        return Outcome::Pending;
    }
    QWidget* active = QApplication::activeWindow();
    windows.removeAll(active);
    if (active && active->isVisible()) windows.append(active);
    auto depth = [](QWidget* w) {
        int d = 0;
        for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
            if (p->isWindow()) ++d;
        return d;
    };
    std::stable_sort(windows.begin(), windows.end(),
                     [&](QWidget* a, QWidget* b) { return depth(a) < depth(b); });
    QRect bounds;
    for (QWidget* w : windows) bounds |= w->frameGeometry();
    QImage image(bounds.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    for (QWidget* w : windows)
        painter.drawPixmap(w->geometry().topLeft() - bounds.topLeft(), w->grab());
    painter.end();
    if (!image.save(file, "PNG")) {
        why = "cannot write " + file;
        return Outcome::Failed;
    }
    return Outcome::Done;
}

Outcome wait_for_text(const Step& step, QWidget* form, const QString& target, QString& why) {
    if (step.control.empty()) return Outcome::Done;
    QObject* c = find_control(form, q(step.control));
    if (!c) {
        why = "no control " + target;
        return Outcome::Pending;
    }
    QString shown = control_text(c);
    if (shown == q(step.texts[0])) return Outcome::Done;
    why = target + " shows " + q(quoted(shown));
    return Outcome::Pending;
}

Outcome press_key(const Step& step, QWidget* form, QString& why, std::function<void()>& action) {
    int key = 0;
    Qt::KeyboardModifiers mods;
    QString text;
    if (!parse_key(q(step.words[0]), key, mods, text)) {
        why = "unknown key " + q(step.words[0]);
        return Outcome::Failed;
    }
    QPointer<QWidget> receiver = form->focusWidget();
    if (!receiver || receiver->window() != form) receiver = form;
    action = [receiver, key, mods, text] {
        if (receiver) send_key(receiver, key, mods, text);
    };
    return Outcome::Done;
}

Outcome click_control(const Target& t, std::function<void()>& action) {
    QPointer<QObject> guard = t.guard;
    if (auto* a = qobject_cast<QAction*>(t.control)) {
        action = [guard, a] {
            if (guard) a->trigger();
        };
    } else if (auto* b = qobject_cast<QAbstractButton*>(t.control)) {
        action = [guard, b] {
            if (guard) b->click();
        };
    } else {
        QWidget* w = widget_of(t.control);
        action = [guard, w] {
            if (guard) mouse_click(w, w->rect().center());
        };
    }
    return Outcome::Done;
}

Outcome type_text(const Target& t, QString& why, std::function<void()>& action) {
    QWidget* w = widget_of(t.control);
    if (auto* combo = qobject_cast<QComboBox*>(t.control); combo && combo->lineEdit())
        w = combo->lineEdit();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(t.control)) w = spin;
    auto* line = qobject_cast<QLineEdit*>(w);
    auto* edit = qobject_cast<QTextEdit*>(w);
    auto* plain = qobject_cast<QPlainTextEdit*>(w);
    if (!line && !edit && !plain && !qobject_cast<QAbstractSpinBox*>(w)) {
        why = t.name + " takes no text";
        return Outcome::Failed;
    }
    action = [guard = t.guard, w, line, edit, plain, text = t.text] {
        if (!guard) return;
        w->setFocus(Qt::OtherFocusReason);
        if (line) line->selectAll();
        if (edit) edit->selectAll();
        if (plain) plain->selectAll();
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) spin->selectAll();
        // Typing over a selection replaces it; an empty text deletes it.
        if (text.isEmpty())
            send_key(w, Qt::Key_Delete, Qt::NoModifier, QString());
        else
            type_into(w, text);
    };
    return Outcome::Done;
}

Outcome tick_control(const Step& step, const Target& t, QString& why,
                     std::function<void()>& action) {
    const bool on = step.words.empty();
    const Qt::CheckState wanted = on ? Qt::Checked : Qt::Unchecked;
    QPointer<QObject> guard = t.guard;
    if (auto* box = qobject_cast<QAbstractButton*>(t.control); box && box->isCheckable()) {
        if (box->isChecked() != on)
            action = [guard, box] {
                if (guard) box->click();
            };
        return Outcome::Done;
    }
    auto* view = qobject_cast<QAbstractItemView*>(t.control);
    if (!view || t.text.isEmpty()) {
        why = view ? QString("no node given") : t.name + " has no check boxes";
        return Outcome::Failed;
    }
    QModelIndex index = find_index(view, t.text);
    if (!index.isValid()) {
        why = "no node " + q(quoted(t.text));
        return Outcome::Pending;
    }
    if (!(index.flags() & Qt::ItemIsUserCheckable) || !(index.flags() & Qt::ItemIsEnabled)) {
        why = "node " + q(quoted(t.text)) + " has no check box";
        return Outcome::Failed;
    }
    if (index.data(Qt::CheckStateRole).toInt() != wanted) {
        QPersistentModelIndex p(index);
        // The same model call the view's delegate makes for a click on the check box.
        action = [guard, view, p, wanted] {
            if (guard && p.isValid())
                view->model()->setData(p, static_cast<int>(wanted), Qt::CheckStateRole);
        };
    }
    return Outcome::Done;
}

Outcome select_tab(QTabBar* bar, const QString& text, QString& why, std::function<void()>& action) {
    int found = -1;
    for (int i = 0; i < bar->count(); ++i)
        if (strip_mnemonic(bar->tabText(i)) == text || bar->tabText(i) == text) found = i;
    if (found < 0) {
        why = "no tab " + q(quoted(text));
        return Outcome::Pending;
    }
    QPointer<QTabBar> b(bar);
    action = [b, found] {
        if (!b) return;
        QRect r = b->tabRect(found);
        if (r.isValid() && b->isVisible()) mouse_click(b, r.center());
        if (b->currentIndex() != found) b->setCurrentIndex(found);
    };
    return Outcome::Done;
}

Outcome select_entry(QComboBox* combo, const QString& text, QString& why,
                     std::function<void()>& action) {
    int i = combo->findText(text, Qt::MatchExactly);
    if (i < 0) i = combo->findText(text, Qt::MatchFixedString);
    if (i < 0) i = combo->findText(text, Qt::MatchStartsWith);
    if (i < 0) {
        why = "no entry " + q(quoted(text));
        return Outcome::Pending;
    }
    QPointer<QComboBox> cb(combo);
    action = [cb, i] {
        if (!cb) return;
        cb->setCurrentIndex(i);
        // A person's choice also reports itself as activated.
        emit cb->activated(i);
        emit cb->textActivated(cb->itemText(i));
    };
    return Outcome::Done;
}

Outcome select_item(QAbstractItemView* view, const QString& text, bool open, QString& why,
                    std::function<void()>& action) {
    QModelIndex index = find_index(view, text);
    if (!index.isValid()) {
        why = "no entry " + q(quoted(text));
        return Outcome::Pending;
    }
    QPersistentModelIndex p(index);
    QPointer<QAbstractItemView> v(view);
    action = [v, p, open] {
        if (!v || !p.isValid()) return;
        v->scrollTo(p);
        QRect r = v->visualRect(p);
        if (r.isValid() && v->viewport()->rect().intersects(r)) {
            // Right end of the entry: clear of a check box at its left.
            QPoint at(std::max(r.left() + 1, r.right() - 3), r.center().y());
            mouse_click(v->viewport(), at, open);
        } else {
            v->setCurrentIndex(p);
            emit v->clicked(p);
            if (open) {
                emit v->doubleClicked(p);
                emit v->activated(p);
            }
        }
    };
    return Outcome::Done;
}

// select and open: a tab, a combo box entry or an entry of a list or tree.
Outcome select_in_control(const Step& step, const Target& t, QString& why,
                          std::function<void()>& action) {
    QTabBar* bar = qobject_cast<QTabBar*>(t.control);
    if (auto* tabs = qobject_cast<QTabWidget*>(t.control)) bar = tabs->tabBar();
    if (bar) return select_tab(bar, t.text, why, action);
    if (auto* combo = qobject_cast<QComboBox*>(t.control))
        return select_entry(combo, t.text, why, action);
    if (auto* view = qobject_cast<QAbstractItemView*>(t.control))
        return select_item(view, t.text, step.kind == StepKind::Open, why, action);
    why = t.name + " has no entries";
    return Outcome::Failed;
}

}  // namespace

ScriptedUser::Outcome ScriptedUser::run_step(const Step& step, QString& why,
                                             std::function<void()>& action) {
    if (!step.error.empty()) {
        why = q(step.error);
        return Outcome::Failed;
    }
    const QString form_name = q(step.form);
    const QString control_name = q(step.control);
    const QString target = step.control.empty() ? form_name : form_name + "." + control_name;

    if (step.kind == StepKind::Answer) {
        why = "no message box";
        return Outcome::Pending;
    }
    if (step.kind == StepKind::Shot) {
        QString file = q(step.form);
        if (QFileInfo(file).isRelative() && !shot_folder_.isEmpty())
            file = QDir(shot_folder_).filePath(file);
        return take_shot(file, why);
    }

    QWidget* form = find_form(form_name);
    if (step.kind == StepKind::Dump) {
        QObject* c = find_control(form, control_name);
        if (!c) {
            why = form ? "no control " + target : "no window " + form_name;
            return Outcome::Pending;
        }
        for (const QString& line : dump_lines(target, c)) transcript_line(line.toStdString());
        return Outcome::Done;
    }
    if (!form || !form->isVisible()) {
        why = "window " + form_name + " not shown";
        return Outcome::Pending;
    }
    if (step.kind == StepKind::Wait) return wait_for_text(step, form, target, why);
    // A person cannot reach a window that a modal window blocks.
    if (QWidget* modal = QApplication::activeModalWidget();
        modal && modal != form && !modal->isAncestorOf(form)) {
        why = "window " + form_name + " blocked by " + modal->objectName();
        return Outcome::Pending;
    }
    if (step.kind == StepKind::Key) return press_key(step, form, why, action);

    // Steps that act on a control.
    QObject* c = find_control(form, control_name);
    if (!c) {
        why = "no control " + target;
        return Outcome::Pending;
    }
    if (!visible_and_enabled(c, why)) {
        why = target + " " + why;
        return Outcome::Pending;
    }
    const Target t{c, QPointer<QObject>(c), target,
                   step.texts.empty() ? QString() : q(step.texts[0])};
    switch (step.kind) {
        case StepKind::Click:
            return click_control(t, action);
        case StepKind::Type:
            return type_text(t, why, action);
        case StepKind::Tick:
            return tick_control(step, t, why, action);
        case StepKind::Select:
        case StepKind::Open:
            return select_in_control(step, t, why, action);
        default:
            why = "unknown step";
            return Outcome::Failed;
    }
}

}  // namespace platform::ui
