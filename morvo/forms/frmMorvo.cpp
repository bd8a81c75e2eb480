#include "morvo/forms/frmMorvo.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextCursor>
#include <QTreeWidget>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "morvo/forms/frmSplash.h"
#include "morvo/outlook/outlook.h"
#include "morvo/outlook_tree.h"
#include "morvo/page_layout.h"
#include "morvo/run_log.h"
#include "morvo/settings.h"
#include "morvo/version.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/resume.h"
#include "platform/ui/program.h"
#include "platform/ui/status.h"

namespace morvo {

namespace {

constexpr int px(int twips) {
    return twips / 15;
}

template <class W>
W* place(W* w, QWidget* parent, const char* name, int l, int t, int wd, int h) {
    w->setParent(parent);
    w->setObjectName(name);
    w->setGeometry(px(l), px(t), px(wd), px(h));
    return w;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}

// Dir1's path form: no trailing backslash except at a drive root ("C:\").
std::string normal_dir_path(std::string p) {
    for (auto& c : p)
        if (c == '/') c = '\\';
    if (p.size() == 2 && p[1] == ':') p += '\\';
    while (p.size() > 3 && p.back() == '\\') p.pop_back();
    return p;
}

QString button_face() {
    return "background-color: palette(button);";
}

}  // namespace

frmMorvo::frmMorvo(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmMorvo");
    setWindowTitle("Morvo");
    setFixedSize(px(6495), px(5655));
    {
        QPixmap icon(16, 16);
        icon.fill(QColor(0, 51, 153));
        setWindowIcon(QIcon(icon));
    }

    Text1 = place(new QLineEdit, this, "Text1", 360, 120, 5775, 315);
    QFont header("MS Sans Serif", 12);
    Text1->setFont(header);
    Text1->setStyleSheet("QLineEdit { color: blue; " + button_face() + " }");

    TabStrip1 = place(new QTabWidget, this, "TabStrip1", 240, 480, 6015, 4215);
    for (const char* tab : {"Morvo", "Einstellungen", "Speicherort", "Info"})
        TabStrip1->addTab(new QWidget, tab);

    Textbox2 = place(new QPlainTextEdit, this, "Textbox2", 360, 960, 5775, 3495);
    Textbox2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TreeView1 = place(new QTreeWidget, this, "TreeView1", 360, 960, 5775, 3495);
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    Textbox3 = place(new QPlainTextEdit, this, "Textbox3", 360, 960, 5775, 3615);
    Textbox3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Textbox3->setStyleSheet("QPlainTextEdit { " + button_face() + " }");
    chk_uncpfad = place(new QCheckBox("UNC-Pfad"), this, "chk_uncpfad", 600, 960, 5535, 375);
    TextBox1 = place(new QLineEdit(q(platform::shown_path("C:\\"))), this, "TextBox1", 360, 1320,
                     5775, 375);
    Text3 =
        place(new QLineEdit(q(platform::shown_path("\\\\"))), this, "Text3", 360, 1320, 5775, 375);
    Drive1 = place(new QComboBox, this, "Drive1", 360, 1800, 5775, 315);
    Dir1 = place(new QListWidget, this, "Dir1", 360, 2160, 5775, 2340);
    Dir1->setToolTip("Bitte mit Doppelklick markieren!");
    comB_log = place(new QPushButton("log Speichern"), this, "comB_log", 2280, 4800, 1215, 375);
    comB_start = place(new QPushButton("Start"), this, "comB_start", 3600, 4800, 1215, 375);
    comB_ok = place(new QPushButton("Speichern"), this, "comB_ok", 3600, 4800, 1215, 375);
    comB_schliessen =
        place(new QPushButton("Schliessen"), this, "comB_schliessen", 4920, 4800, 1215, 375);
    sta_Anzeige = new QStatusBar(this);
    sta_Anzeige->setObjectName("sta_Anzeige");
    sta_Anzeige->setSizeGripEnabled(false);
    sta_Anzeige->setGeometry(0, height() - 22, width(), 22);

    // The page controls lie in front of the tab strip; the Info box in front of the tree.
    for (QWidget* w : std::initializer_list<QWidget*>{Textbox2, TreeView1, Textbox3, chk_uncpfad,
                                                      TextBox1, Text3, Drive1, Dir1})
        w->raise();
    for (QWidget* w : std::initializer_list<QWidget*>{Textbox2, Textbox3, chk_uncpfad, TextBox1,
                                                      Text3, Drive1, Dir1, TreeView1})
        w->hide();
    comB_log->hide();
    comB_ok->hide();

    // The places (where drives would be) and the folder list start at the root of C:.
    places_ = platform::places();
    for (const auto& p : places_) Drive1->addItem(q(p.text));
    dir_path_ = "C:\\";
    fill_Dir1();

    probe_ = platform_probe();
    run_env_ = default_run_environment("");

    connect(TabStrip1, &QTabWidget::currentChanged, this, [this](int) { TabStrip1_Click(); });
    connect(TreeView1, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item, int) { on_tree_item_changed(item); });
    connect(comB_ok, &QPushButton::clicked, this, [this] { comB_ok_Click(); });
    connect(comB_start, &QPushButton::clicked, this, [this] { comB_start_Click(); });
    connect(comB_log, &QPushButton::clicked, this, [this] { comB_log_Click(); });
    connect(comB_schliessen, &QPushButton::clicked, this, [this] { comB_schliessen_Click(); });
    connect(chk_uncpfad, &QCheckBox::toggled, this, [this](bool) { chk_uncpfad_Click(); });
    connect(TextBox1, &QLineEdit::textChanged, this, [this](const QString&) { TextBox1_Change(); });
    connect(Drive1, &QComboBox::currentIndexChanged, this, [this](int) { Drive1_Change(); });
    connect(Dir1, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        std::string target = s(item->data(Qt::UserRole).toString());
        // The list is rebuilt by the change; do that once the click has been handled.
        QMetaObject::invokeMethod(
            this,
            [this, target] {
                try {
                    set_Dir1_Path(target);
                } catch (const std::exception&) {
                    platform::MsgBox("Das Verzeichnis ist nicht vorhanden. Bitte korrigieren!");
                }
            },
            Qt::QueuedConnection);
    });
    connect(Textbox2, &QPlainTextEdit::textChanged, this, [this] {
        if (textbox2_program_ || run_text_cut_) return;
        // The user edited the run text: the log saves it as edited.
        run_text_.reset(s(Textbox2->toPlainText()));
        shown_bytes_ = run_text_.size();
    });
}

frmMorvo::~frmMorvo() = default;

// ---------------------------------------------------------------- start-up

void frmMorvo::Form_Load() {
    start = true;
    outlook::Application app;
    outlook::NameSpace ns;
    // Without the mail program the tree stays empty.
    platform::resume_on_error([&] {
        app = outlook::CreateObject("Outlook.Application");
        ns = app.GetNamespace("MAPI");
    });

    splash_ = new frmSplash;
    splash_->Form_Load();
    splash_->show();
    splash_->set_status_text("Ordner werden gelesen. Bitte haben Sie etwas Geduld");

    if (!ns.is_nothing()) {
        OutlookFolderSource source(ns);
        load_folder_tree(source, tree_, [this](const std::string& text) {
            if (splash_) splash_->set_status_text(text);
        });
    }
    build_tree_items();
    iCount = tree_.count();

    read_settings();

    // A store that does not answer shows without folders; the text says why.
    std::string unreachable;
    if (!ns.is_nothing()) {
        const outlook::Folders stores = ns.Folders();
        for (long i = 1; i <= stores.Count(); ++i) {
            try {
                stores.Item(i).Folders().Count();
            } catch (const platform::Error& e) {
                unreachable += "\r\n\r\n„" + stores.Item(i).Name() +
                               "“ ist nicht erreichbar: " + e.description;
            }
        }
    }
    run_text_reset("Willkommen zum Morvo" + unreachable);
    comB_start->setEnabled(true);
    Textbox3->setPlainText(q(info_text()).replace("\r\n", "\n"));
    start = false;
    TabStrip1_Click();
    if (splash_) {
        splash_->close();
        splash_->deleteLater();
    }
}

void frmMorvo::build_tree_items() {
    platform::ui::ProgramChange guard(TreeView1);
    TreeView1->setUpdatesEnabled(false);
    items_.clear();
    items_.reserve(static_cast<size_t>(tree_.count()));
    QList<QTreeWidgetItem*> top;
    for (int i = 1; i <= tree_.count(); ++i) {
        const auto& n = tree_.node(i);
        auto* item = n.parent > 0 ? new QTreeWidgetItem(items_[static_cast<size_t>(n.parent - 1)])
                                  : new QTreeWidgetItem();
        item->setText(0, q(n.text));
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        item->setCheckState(0, n.checked ? Qt::Checked : Qt::Unchecked);
        item->setData(0, Qt::UserRole, i);
        if (n.parent == 0) top.push_back(item);
        items_.push_back(item);
    }
    TreeView1->addTopLevelItems(top);
    TreeView1->collapseAll();
    TreeView1->setUpdatesEnabled(true);
}

void frmMorvo::read_settings() {
    sFile = settings_file_path(settings_folder());
    if (!settings_file_exists(sFile)) {
        platform::MsgBox("Die Datei: " + platform::shown_path(sFile) +
                         "\r\nkonnte nicht gefunden werden.\r\n" +
                         "Bitte überprüfen Sie die Einstellungen\r\n" +
                         "damit die Datei mit #Speichern# neu\r\n" + "geschrieben werden kann!");
        return;
    }
    std::string text;
    if (!read_settings_file(sFile, text)) return;
    auto settings = parse_startup_settings(text);
    if (settings.has_storage_path) {
        if (is_unc(settings.storage_path)) {
            chk_uncpfad->setChecked(true);
            Text3->setText(q(platform::shown_path(settings.storage_path)));
        } else {
            set_TextBox1(settings.storage_path);
        }
    }
    platform::ui::ProgramChange guard(TreeView1);
    for (const auto& line : settings.folder_lines) {
        int index = tree_.apply_saved_line(line);
        if (index > 0) items_[static_cast<size_t>(index - 1)]->setCheckState(0, Qt::Checked);
    }
}

// ---------------------------------------------------------------- pages

void frmMorvo::TabStrip1_Click() {
    Text1->setText("Morvolan");
    const int index = TabStrip1->currentIndex() + 1;
    const auto layout = page_layout(index, chk_uncpfad->isChecked());
    if (!layout) return;
    Textbox2->setVisible(layout->Textbox2);
    TreeView1->setVisible(layout->TreeView1);
    Textbox3->setVisible(layout->Textbox3);
    comB_start->setVisible(layout->comB_start);
    comB_ok->setVisible(layout->comB_ok);
    chk_uncpfad->setVisible(layout->chk_uncpfad);
    TextBox1->setVisible(layout->TextBox1);
    Drive1->setVisible(layout->Drive1);
    Dir1->setVisible(layout->Dir1);
    Text3->setVisible(layout->Text3);
    set_status(std::string(layout->status));
}

void frmMorvo::comB_schliessen_Click() {
    platform::end_program(0);
}

// ---------------------------------------------------------------- folder tree

void frmMorvo::on_tree_item_changed(QTreeWidgetItem* item) {
    if (platform::ui::is_program_change(TreeView1)) return;
    int index = item->data(0, Qt::UserRole).toInt();
    if (index < 1 || index > tree_.count()) return;
    tree_.set_checked(index, item->checkState(0) == Qt::Checked);
    TreeView1_NodeCheck(index);
}

void frmMorvo::TreeView1_NodeCheck(int index) {
    iCount = tree_.count();
    auto changed = tree_.node_check(index);
    platform::ui::ProgramChange guard(TreeView1);
    for (int k : changed) {
        auto* item = items_[static_cast<size_t>(k - 1)];
        auto state = tree_.checked(k) ? Qt::Checked : Qt::Unchecked;
        if (item->checkState(0) != state) item->setCheckState(0, state);
    }
}

// ---------------------------------------------------------------- saving

void frmMorvo::set_three_buttons(bool enabled) {
    comB_schliessen->setEnabled(enabled);
    comB_start->setEnabled(enabled);
    comB_ok->setEnabled(enabled);
}

void frmMorvo::show_box(const Box& box) {
    platform::MsgBox(box.text, platform::Buttons::OK, box.icon, box.title);
}

void frmMorvo::comB_ok_Click() {
    set_three_buttons(false);
    const bool unc = chk_uncpfad->isChecked();
    const std::string path = s(unc ? Text3->text() : TextBox1->text());
    SaveDecision d = decide_save(unc, path, probe_);
    switch (d.outcome) {
        case SaveDecision::Outcome::fail_f1:
            set_status(d.status);
            if (d.box) show_box(*d.box);
            set_three_buttons(true);
            return;
        case SaveDecision::Outcome::refuse:
            if (d.focus_text3) Text3->setFocus();
            if (d.box) show_box(*d.box);
            set_status(d.status);
            set_three_buttons(true);
            return;
        case SaveDecision::Outcome::accept:
            break;
    }
    if (unc)
        Text3->setText(q(platform::shown_path(d.path)));
    else
        set_TextBox1(d.path);
    try {
        // The file holds the path as the person sees it; a reader takes either form. The window
        // has no control for the file's rules: they stay as the file has them.
        std::string old;
        const bool long_extensions =
            read_settings_file(sFile, old) && parse_run_settings(old).long_extensions;
        write_text_file(sFile, settings_file_text(platform::shown_path(d.path), tree_.saved_lines(),
                                                  long_extensions));
    } catch (const std::exception&) {
        // A file that could not be written is never reported as saved.
        set_status(std::string(kNotSaved));
        set_three_buttons(true);
        return;
    }
    set_status(std::string(kSaved));
    set_three_buttons(true);
}

// ---------------------------------------------------------------- storage path pickers

void frmMorvo::chk_uncpfad_Click() {
    auto unc_failure = [this] {
        show_box(unc_error_box(s(Text3->text())));
        set_status(std::string(kUncInvalidStatus));
    };
    try {
        if (chk_uncpfad->isChecked()) {
            Text3->show();
            TextBox1->hide();
            Dir1->hide();
            Drive1->hide();
            const std::string t1 = platform::typed_path(s(TextBox1->text()));
            Text3->setText(q(platform::shown_path(netzpfad_ermitteln(t1) +
                                                  (t1.size() > 2 ? t1.substr(2) : ""))));
            if (!start && !is_unc(s(Text3->text()))) {
                Text3->setFocus();
                unc_failure();
            }
        } else {
            Text3->hide();
            TextBox1->show();
            Dir1->show();
            Drive1->show();
        }
    } catch (const std::exception&) {
        unc_failure();
    }
}

std::string frmMorvo::Drive1_Drive() const {
    const int index = Drive1->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= places_.size()) return {};
    return places_[static_cast<std::size_t>(index)].path;
}

// Drive1 follows a Windows path to the place that holds it.
void frmMorvo::set_Drive1_Drive(const std::string& path) {
    if (path.size() < 2 || path[1] != ':' || platform::host_path(path.substr(0, 2) + "\\").empty())
        throw platform::Error(68, "Gerät nicht verfügbar");
    const int index = static_cast<int>(platform::place_of(places_, path));
    if (index != Drive1->currentIndex()) Drive1->setCurrentIndex(index);
}

void frmMorvo::set_Dir1_Path(const std::string& path) {
    std::string p = normal_dir_path(path);
    if (p.size() < 3 || p[1] != ':' || p[2] != '\\')
        throw platform::Error(76, "Pfad nicht gefunden");
    if (!platform::PathIsDirectoryA(p)) {
        if (platform::host_path(p.substr(0, 3)).empty())
            throw platform::Error(68, "Gerät nicht verfügbar");
        throw platform::Error(76, "Pfad nicht gefunden");
    }
    if (platform::equals_ignore_case(p, dir_path_)) return;
    dir_path_ = p;
    drive_dirs_[platform::place_of(places_, p)] = p;
    fill_Dir1();
    Dir1_Change();
}

void frmMorvo::fill_Dir1() {
    Dir1->clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // The path's folders from the root down, then the subfolders of the current folder.
    std::string so_far = dir_path_.substr(0, 3);
    auto* root = new QListWidgetItem(open, q(platform::shown_path(so_far)), Dir1);
    root->setData(Qt::UserRole, q(so_far));
    size_t pos = 3;
    while (pos < dir_path_.size()) {
        size_t next = dir_path_.find('\\', pos);
        if (next == std::string::npos) next = dir_path_.size();
        std::string name = dir_path_.substr(pos, next - pos);
        so_far += (so_far.size() > 3 ? "\\" : "") + name;
        auto* item = new QListWidgetItem(open, q(name), Dir1);
        item->setData(Qt::UserRole, q(so_far));
        pos = next + 1;
    }
    Dir1->setCurrentRow(Dir1->count() - 1);
    std::vector<std::string> subs;
    std::error_code ec;
    std::string host = platform::host_path(dir_path_);
    if (!host.empty()) {
        for (std::filesystem::directory_iterator it(host, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code e2;
            if (!it->is_directory(e2)) continue;
            std::string n = it->path().filename().string();
            if (!n.empty() && n[0] == '.') continue;
            subs.push_back(n);
        }
    }
    std::sort(subs.begin(), subs.end(), [](const std::string& a, const std::string& b) {
        return QString::compare(q(a), q(b), Qt::CaseInsensitive) < 0;
    });
    const std::string base = dir_path_.size() > 3 ? dir_path_ + "\\" : dir_path_;
    for (const auto& n : subs) {
        auto* item = new QListWidgetItem(closed, q(n), Dir1);
        item->setData(Qt::UserRole, q(base + n));
    }
}

// The box shows the host form of the Windows path it is given.
void frmMorvo::set_TextBox1(const std::string& path) {
    const std::string text = platform::shown_path(path);
    if (s(TextBox1->text()) != text) TextBox1->setText(q(text));
}

void frmMorvo::Drive1_Change() {
    const int index = Drive1->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= places_.size()) return;
    const auto place = static_cast<std::size_t>(index);
    auto it = drive_dirs_.find(place);
    const std::string target = it != drive_dirs_.end() ? it->second : places_[place].path;
    platform::resume_on_error([&] {
        try {
            set_Dir1_Path(target);
        } catch (const platform::Error& e) {
            if (e.number == 68) {
                const std::string text =
                    "Das Laufwerk ist nicht bereit. Bitte wählen Sie ein anderes Laufwerk aus!";
                platform::MsgBox(text);
                set_status(text);
            }
        }
    });
}

void frmMorvo::Dir1_Change() {
    if (start) return;
    try {
        set_TextBox1(dir_path_);
    } catch (const std::exception&) {
        platform::MsgBox("Das Verzeichnis ist nicht vorhanden. Bitte korrigieren!");
    }
}

void frmMorvo::TextBox1_Change() {
    const std::string text = s(TextBox1->text());
    try {
        const std::string path = platform::typed_path(text);
        set_Drive1_Drive(path);
        set_Dir1_Path(path);
    } catch (const std::exception&) {
        const std::string msg = "Die Pfadangabe ist nicht korrekt: " + text +
                                " ist nicht vorhanden. Bitte korrigieren!";
        platform::MsgBox(msg);
        set_status(msg);
    }
}

// ---------------------------------------------------------------- run and log

void frmMorvo::comB_start_Click() {
    if (running_) return;
    run_env_.settings_file = sFile;
    running_ = true;
    stop_requested_ = false;
    painted_ = std::chrono::steady_clock::now();
    run_archive(*this, run_env_);
    running_ = false;
    // Closed during the run: the run stopped after its mail, the window goes now.
    if (stop_requested_) close();
}

void frmMorvo::closeEvent(QCloseEvent* event) {
    if (!running_) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    stop_requested_ = true;
}

void frmMorvo::mail_done(long, long) {
    // A long run keeps the window painted and lets it be closed.
    const auto now = std::chrono::steady_clock::now();
    if (now - painted_ < std::chrono::milliseconds(100)) return;
    painted_ = now;
    follow_run_text();
    platform::ui::keep_windows_painted();
}

void frmMorvo::comB_log_Click() {
    auto saved = save_run_log(run_log_folder(), run_text_, run_env_.clock());
    if (!saved.ok) {
        platform::MsgBox(saved.message, platform::Buttons::OK, platform::Icon::Exclamation);
        return;
    }
    comB_log->hide();
    set_status("log gespeichert unter: " + platform::shown_path(saved.path));
}

void frmMorvo::focus_run_text() {
    Textbox2->setFocus();
}

void frmMorvo::enable_run_buttons(bool enabled) {
    comB_schliessen->setEnabled(enabled);
    comB_start->setEnabled(enabled);
}

void frmMorvo::show_run_page(const std::string& title) {
    Text1->setText(q(title));
    if (TabStrip1->currentIndex() != 0)
        TabStrip1->setCurrentIndex(0);
    else
        TabStrip1_Click();
}

void frmMorvo::run_text_reset(const std::string& text) {
    textbox2_program_ = true;
    run_text_.reset(text);
    run_text_cut_ = false;
    Textbox2->setReadOnly(false);
    if (run_text_.size() > shown_bytes_limit) {
        show_run_text_end();
    } else {
        Textbox2->setPlainText(q(run_text_.whole()));
        shown_bytes_ = run_text_.size();
    }
    textbox2_program_ = false;
}

void frmMorvo::run_text_added(const std::string& text, bool follow) {
    textbox2_program_ = true;
    const std::uint64_t before = run_text_.size();
    run_text_.append(text);
    const std::uint64_t added = run_text_.size() - before;
    if (shown_bytes_ + added > shown_bytes_limit) {
        show_run_text_end();
    } else {
        // Only the new part goes into the box, so a long run stays linear.
        QTextCursor c(Textbox2->document());
        c.movePosition(QTextCursor::End);
        c.insertText(q(text).replace("\r\n", "\n"));
        shown_bytes_ += added;
    }
    textbox2_program_ = false;
    // Shown when the window is next painted: laying out the end for every line of a long run
    // would cost more than the run.
    follow_pending_ = follow_pending_ || follow;
}

void frmMorvo::follow_run_text() {
    if (!follow_pending_) return;
    follow_pending_ = false;
    Textbox2->moveCursor(QTextCursor::End);
    Textbox2->ensureCursorVisible();
}

void frmMorvo::show_run_text_end() {
    const std::string end = run_text_.tail(static_cast<std::size_t>(shown_bytes_limit / 2));
    Textbox2->setPlainText(
        "[Ältere Zeilen sind hier ausgeblendet; »log Speichern« sichert den ganzen Text.]\n" +
        q(end));
    shown_bytes_ = end.size();
    // An edit of a text shown in part could not reach the log.
    run_text_cut_ = true;
    Textbox2->setReadOnly(true);
}

void frmMorvo::set_status(const std::string& text) {
    platform::ui::set_status(sta_Anzeige, text);
}

void frmMorvo::run_finished() {
    follow_run_text();
    comB_log->show();
}

}  // namespace morvo
