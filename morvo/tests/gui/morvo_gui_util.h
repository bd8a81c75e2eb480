#pragma once

// Shared by the window tests: a program folder, a generated store behind the binding, a
// message-box fake that records every box and answers from a queue, and a started frmMorvo.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTreeWidget>
#include <deque>
#include <memory>

#include "morvo/forms/frmMorvo.h"
#include "morvo/tests/outlook_test_util.h"
#include "platform/msgbox.h"
#include "platform/paths.h"

namespace morvo::test {

using outlook::test::GeneratedStore;
using outlook::test::TempDir;

struct Boxes {
    std::vector<platform::MsgBoxRequest> shown;
    std::deque<platform::Result> answers;
    std::unique_ptr<platform::ScopedMsgBoxHandler> handler;
    Boxes() {
        handler = std::make_unique<platform::ScopedMsgBoxHandler>(
            [this](const platform::MsgBoxRequest& r) {
                shown.push_back(r);
                if (answers.empty()) return platform::default_result(r);
                auto a = answers.front();
                answers.pop_front();
                return a;
            });
    }
    bool any_titled(const std::string& title) const {
        for (const auto& b : shown)
            if (b.title == title) return true;
        return false;
    }
};

// A program folder of its own and a store; forms started here see both.
struct MorvoFixture {
    TempDir program;
    GeneratedStore store;
    Boxes boxes;
    explicit MorvoFixture(mkmailstore::Options opt = {}) : store("maildir++", opt) {
        platform::set_app_path(platform::windows_path(program.path()));
        outlook::set_store_override(
            std::vector{outlook::test::store_config(outlook::test::store_name, store.root)});
    }
    ~MorvoFixture() {
        outlook::set_store_override(std::nullopt);
        platform::set_app_path("");
    }
    std::string ini_host() const { return program.path() + "/morvo.ini"; }
    std::unique_ptr<frmMorvo> start_form() {
        auto f = std::make_unique<frmMorvo>();
        f->Form_Load();
        f->show();
        QApplication::processEvents();
        return f;
    }
};

inline std::string text_of(QLineEdit* e) {
    return e->text().toStdString();
}
inline std::string status_of(frmMorvo& f) {
    return f.sta_Anzeige->currentMessage().toStdString();
}

// The 1-based index of a node by its full path (the first one).
inline int node_index(const frmMorvo& f, const std::string& path) {
    for (int i = 1; i <= f.tree().count(); ++i)
        if (f.tree().full_path(i) == path) return i;
    return 0;
}

// A user's click on a node's check box: the same model call the view makes.
inline void user_tick(frmMorvo& f, int index, bool on = true) {
    QTreeWidgetItemIterator it(f.TreeView1);
    for (; *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toInt() != index) continue;
        auto* model = f.TreeView1->model();
        QModelIndex mi = f.TreeView1->indexFromItem(*it);
        model->setData(mi, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        return;
    }
}

inline bool item_ticked(const frmMorvo& f, int index) {
    QTreeWidgetItemIterator it(f.TreeView1);
    for (; *it; ++it)
        if ((*it)->data(0, Qt::UserRole).toInt() == index)
            return (*it)->checkState(0) == Qt::Checked;
    return false;
}

}  // namespace morvo::test
