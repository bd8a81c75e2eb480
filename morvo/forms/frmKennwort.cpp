#include "morvo/forms/frmKennwort.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <map>
#include <memory>

namespace morvo {

frmKennwort::frmKennwort(const outlook::StoreConfig& store, QWidget* parent) : QDialog(parent) {
    setObjectName("frmKennwort");
    setWindowTitle("Kennwort");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblKonto = new QLabel(QString::fromStdString("Kennwort für das Postfach „" + store.name +
                                                 "“\n(" + store.location + "):"));
    lblKonto->setObjectName("lblKonto");
    txtKennwort = new QLineEdit;
    txtKennwort->setObjectName("txtKennwort");
    txtKennwort->setEchoMode(QLineEdit::Password);
    cmdOK = new QPushButton("OK");
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdAbbrechen = new QPushButton("Abbrechen");
    cmdAbbrechen->setObjectName("cmdAbbrechen");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdAbbrechen);
    layout->addWidget(lblKonto);
    layout->addWidget(txtKennwort);
    layout->addLayout(buttons);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdAbbrechen, &QPushButton::clicked, this, &QDialog::reject);
}

outlook::PasswordSource window_password_source() {
    // Per account: the answer, or nullopt once the user declined (not asked again).
    auto answers = std::make_shared<std::map<std::string, std::optional<std::string>>>();
    return [answers](const outlook::StoreConfig& store) -> std::optional<std::string> {
        const std::string key = store.location;
        if (auto it = answers->find(key); it != answers->end()) return it->second;
        frmKennwort box(store);
        std::optional<std::string> answer;
        if (box.exec() == QDialog::Accepted && !box.txtKennwort->text().isEmpty())
            answer = box.txtKennwort->text().toStdString();
        (*answers)[key] = answer;
        return answer;
    };
}

}  // namespace morvo
