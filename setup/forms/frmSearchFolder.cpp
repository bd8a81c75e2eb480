#include "setup/forms/frmSearchFolder.h"

#include <QDir>
#include <QStyle>
#include <QStyledItemDelegate>

#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "setup/folder_list.h"
#include "setup/forms/form_scaling.h"
#include "setup/forms/frmWizard.h"
#include "setup/forms/wizard_controls.h"
#include "setup/script.h"

namespace setup {
namespace {

constexpr int kLevelRole = Qt::UserRole + 1;

// Indents each folder by its depth, as a folder list draws its tree; the entry's text stays the
// folder's name.
class FolderIndent : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        o.rect.adjust(12 * index.data(kLevelRole).toInt(), 0, 0, 0);
        QStyledItemDelegate::paint(painter, o, index);
    }
};

}  // namespace

frmSearchFolder::frmSearchFolder(frmWizard* wizard) : QWidget(wizard), wizard_(wizard) {
    make_dialog_window(this, "frmSearchFolder");
    setWindowTitle("Ordner wählen");
    resize(twips(5400), twips(4800));

    Label1 = make_control<QLabel>(this, "Label1", 240, 180, 4920, 300);
    Label1->setText("Wählen Sie einen Ordner für die Installation:");
    Drive1 = make_control<QComboBox>(this, "Drive1", 240, 600, 4920, 360);
    Dir1 = make_control<QListWidget>(this, "Dir1", 240, 1080, 4920, 2700);
    Dir1->setItemDelegate(new FolderIndent(Dir1));
    Command1 = make_control<QPushButton>(this, "Command1", 1980, 3990, 1500, 420);
    Command1->setText("OK");
    Command2 = make_control<QPushButton>(this, "Command2", 3660, 3990, 1500, 420);
    Command2->setText("Abbrechen");

    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) Drive1_Change();
    });
    // A double click (or Enter) opens a folder; a single click only highlights it.
    connect(Dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (item) set_dir_path(item->data(Qt::UserRole).toString().toStdString());
    });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

void frmSearchFolder::Form_Load() {
    if (folder_chooser_scales(GetScreenInfo())) ScaleLayout(this, true, true);
    // Both lists start at the process's current folder.
    std::string cwd = platform::windows_path(QDir::currentPath().toStdString());
    places_ = platform::places();
    place_ = platform::place_of(places_, cwd);
    fill_drives();
    set_dir_path(cwd);
}

void frmSearchFolder::fill_drives() {
    filling_ = true;
    Drive1->clear();
    for (const auto& p : places_) Drive1->addItem(q(p.text));
    Drive1->setCurrentIndex(static_cast<int>(place_));
    filling_ = false;
}

void frmSearchFolder::set_dir_path(const std::string& path) {
    std::vector<FolderEntry> entries = folder_entries(path);
    dir_path_ = path;
    // The open folder is the last ancestor entry.
    for (const auto& e : entries) {
        if (e.open) dir_path_ = e.path;
    }
    Dir1->clear();
    for (const auto& e : entries) {
        auto* item = new QListWidgetItem(q(e.text));
        item->setData(kLevelRole, e.level);
        item->setData(Qt::UserRole, q(e.path));
        item->setIcon(
            style()->standardIcon(e.open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon));
        Dir1->addItem(item);
        if (e.open && e.path == dir_path_) Dir1->setCurrentItem(item);
    }
}

void frmSearchFolder::Drive1_Change() {
    const int index = Drive1->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= places_.size()) return;
    const platform::Place& chosen = places_[static_cast<std::size_t>(index)];
    if (!drive_ready(chosen.path)) {
        // An empty or unmounted volume: say so and keep the place that was shown.
        platform::MsgBox("Das Laufwerk " + chosen.text + " ist nicht bereit.",
                         platform::Buttons::OK, platform::Icon::Exclamation);
        fill_drives();
        return;
    }
    place_ = static_cast<std::size_t>(index);
    try {
        set_dir_path(chosen.path);
    } catch (const platform::Error& e) {
        platform::MsgBox(e.description, platform::Buttons::OK, platform::Icon::Exclamation);
    }
}

void frmSearchFolder::Command1_Click() {
    std::string product = GetIniValue("ProduktName", "Main", "");
    wizard_->InstallPath->setText(
        q(platform::shown_path(chosen_install_folder(dir_path_, product))));
    close();
}

void frmSearchFolder::Command2_Click() {
    close();
}

}  // namespace setup
