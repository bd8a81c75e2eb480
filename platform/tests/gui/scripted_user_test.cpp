// The scripted user drives a small form through every step kind; the transcript is checked
// line by line, failures end with status 3.
#include "platform/ui/scripted_user.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/transcript.h"
#include "platform/ui/program.h"
#include "platform/ui/status.h"
#include "testsupport/gui_app.h"
#include "testsupport/testsupport.h"

namespace {

using platform::ui::ScriptedUser;

QApplication& app() {
    return testsupport::gui_app();
}

using testsupport::slurp;

// A form with one control of each kind; its handlers record what they saw.
class TestForm : public QWidget {
  public:
    std::vector<std::string> events;
    QLineEdit* txtName = new QLineEdit(this);
    QLabel* lblStatus = new QLabel(this);
    QLabel* lblHidden = new QLabel("verborgen", this);
    QTreeWidget* TreeView1 = new QTreeWidget(this);
    QTabWidget* tabs = new QTabWidget(this);
    QListWidget* lstOrdner = new QListWidget(this);
    QComboBox* drvLaufwerk = new QComboBox(this);
    QCheckBox* chkA = new QCheckBox("A", this);
    QPushButton* cmdOff = new QPushButton("Aus", this);
    QStatusBar* StatusBar1 = new QStatusBar(this);
    QWidget* frmZwei = nullptr;

    TestForm() {
        setObjectName("frmTest");
        auto* layout = new QVBoxLayout(this);
        for (int i = 1; i <= 4; ++i) {
            auto* b = new QPushButton(QString("Knopf %1").arg(i), this);
            b->setObjectName(QString("cmdNav(%1)").arg(i));
            layout->addWidget(b);
            connect(b, &QPushButton::clicked, this, [this, i] { cmdNav_Click(i); });
        }
        txtName->setObjectName("txtName");
        connect(txtName, &QLineEdit::textChanged, this,
                [this](const QString& t) { events.push_back("change " + t.toStdString()); });
        lblStatus->setObjectName("lblStatus");
        lblHidden->setObjectName("lblHidden");
        lblHidden->hide();
        TreeView1->setObjectName("TreeView1");
        auto* store = new QTreeWidgetItem(TreeView1, QStringList{"Store"});
        auto* inbox = new QTreeWidgetItem(store, QStringList{"Posteingang"});
        new QTreeWidgetItem(store, QStringList{"Gesendet"});
        {
            platform::ui::ProgramChange program(TreeView1);
            for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
                (*it)->setCheckState(0, Qt::Unchecked);
            inbox->parent()->child(1)->setCheckState(0, Qt::Checked);
        }
        connect(TreeView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
            if (platform::ui::is_program_change(TreeView1)) return;
            events.push_back("nodecheck " + item->text(0).toStdString() + " " +
                             (item->checkState(0) == Qt::Checked ? "on" : "off"));
        });
        tabs->setObjectName("tabs");
        tabs->addTab(new QWidget, "&Eins");
        tabs->addTab(new QWidget, "Zwei");
        connect(tabs, &QTabWidget::currentChanged, this,
                [this](int i) { events.push_back("tab " + std::to_string(i)); });
        lstOrdner->setObjectName("lstOrdner");
        lstOrdner->addItems({"C:\\", "home", "anna"});
        connect(lstOrdner, &QListWidget::itemClicked, this, [this](QListWidgetItem* i) {
            events.push_back("click " + i->text().toStdString());
        });
        connect(lstOrdner, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* i) {
            events.push_back("open " + i->text().toStdString());
        });
        drvLaufwerk->setObjectName("drvLaufwerk");
        drvLaufwerk->addItems({"C:", "D: [Daten]"});
        connect(drvLaufwerk, &QComboBox::activated, this,
                [this](int i) { events.push_back("drive " + std::to_string(i)); });
        chkA->setObjectName("chkA");
        connect(chkA, &QCheckBox::toggled, this,
                [this](bool on) { events.push_back(on ? "chkA on" : "chkA off"); });
        StatusBar1->setObjectName("StatusBar1");
        cmdOff->setObjectName("cmdOff");
        cmdOff->setEnabled(false);
        for (QWidget* w :
             std::initializer_list<QWidget*>{txtName, lblStatus, lblHidden, TreeView1, tabs,
                                             lstOrdner, drvLaufwerk, chkA, cmdOff, StatusBar1})
            layout->addWidget(w);
        resize(300, 700);
    }

    ~TestForm() override { delete frmZwei; }

    void cmdNav_Click(int index) {
        events.push_back("cmdNav " + std::to_string(index));
        if (index == 2) {
            platform::Result r = platform::MsgBox("Weiter?", platform::Buttons::YesNo,
                                                  platform::Icon::Question, "Test");
            platform::ui::set_status(lblStatus,
                                     "Antwort: " + std::string(platform::result_name(r)));
        }
        if (index == 4) {
            QDialog dialog(this);
            dialog.setObjectName("dlgModal");
            auto* close = new QPushButton("Schliessen", &dialog);
            close->setObjectName("cmdSchliessen");
            connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
            events.push_back("modal open");
            dialog.exec();
            events.push_back("modal closed");
        }
        if (index == 3) {
            frmZwei = new QWidget;
            frmZwei->setObjectName("frmZwei");
            frmZwei->show();
        }
    }

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) {
            events.push_back("Esc");
            StatusBar1->showMessage("Bereit");  // directly, not through set_status
            platform::ui::set_status(lblStatus, std::string_view("Fertig"));
        }
        if (e->key() == Qt::Key_F2 &&
            platform::MsgBox("Programm beenden?", platform::Buttons::YesNo,
                             platform::Icon::Question) == platform::Result::Yes)
            platform::end_program(0);
    }
};

struct ScriptRun {
    std::string transcript;
    std::vector<int> failures;
    bool finished = false;
};

class ScriptedUserTest : public ::testing::Test {
  protected:
    testsupport::TempDir scratch{"script"};
    std::string dir = scratch.path();
    std::string transcript = scratch.file("transcript.txt");
    testsupport::ScopedSeam transcript_seam{platform::set_transcript_file, transcript};
    void SetUp() override {
        app();
        platform::ui::install_window_layer();
    }

    // Runs a script against a form until it is done, has failed, or 20 s pass.
    ScriptRun run(TestForm& form, const std::string& script, int timeout_ms = 400) {
        ScriptRun r;
        form.show();
        ScriptedUser user(platform::ui::parse_script(script), [&](int status) {
            r.failures.push_back(status);
            // Lets a modal window's own loop end, as the program's exit would.
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        user.set_step_timeout_ms(timeout_ms);
        user.set_shot_folder(QString::fromStdString(dir));
        user.begin();
        QElapsedTimer clock;
        clock.start();
        while (!user.finished() && !user.failed() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        r.finished = user.finished();
        form.hide();
        QCoreApplication::processEvents();
        r.transcript = slurp(transcript);
        return r;
    }
};

TEST_F(ScriptedUserTest, EveryStepKindActsAsAUserAndIsTranscribed) {
    TestForm form;
    ScriptRun r = run(form, R"(# a comment line
wait frmTest
type frmTest.txtName "Ab \"c\""    # typed key by key
click frmTest.cmdNav(2)
answer No if "Weiter"
click frmTest.cmdNav(2)
tick frmTest.TreeView1 "Store|Posteingang"
tick frmTest.TreeView1 "Store|Gesendet" off
tick frmTest.TreeView1 "Store" off
select frmTest.tabs "Zwei"
select frmTest.lstOrdner "home"
open frmTest.lstOrdner "anna"
select frmTest.drvLaufwerk "D:"
tick frmTest.chkA
key frmTest Esc
wait frmTest lblStatus "Fertig" 5
dump frmTest.lblStatus
dump frmTest.TreeView1
dump frmTest.lstOrdner
dump frmTest.chkA
dump frmTest.lblHidden
dump frmTest.cmdOff
shot shot.png
click frmTest.cmdNav(3)
wait frmZwei
)");
    EXPECT_TRUE(r.failures.empty());
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.transcript, R"(window frmTest shown
step 1 ok: wait frmTest
step 2 ok: type frmTest.txtName "Ab \"c\""
step 3 ok: click frmTest.cmdNav(2)
msgbox title="Test" icon=question buttons=YesNo default=Yes text="Weiter?" -> No
step 4 ok: answer No if "Weiter"
status frmTest.lblStatus "Antwort: No"
step 5 ok: click frmTest.cmdNav(2)
msgbox title="Test" icon=question buttons=YesNo default=Yes text="Weiter?" -> Yes (default)
status frmTest.lblStatus "Antwort: Yes"
step 6 ok: tick frmTest.TreeView1 "Store|Posteingang"
step 7 ok: tick frmTest.TreeView1 "Store|Gesendet" off
step 8 ok: tick frmTest.TreeView1 "Store" off
step 9 ok: select frmTest.tabs "Zwei"
step 10 ok: select frmTest.lstOrdner "home"
step 11 ok: open frmTest.lstOrdner "anna"
step 12 ok: select frmTest.drvLaufwerk "D:"
step 13 ok: tick frmTest.chkA
step 14 ok: key frmTest Esc
status frmTest.StatusBar1 "Bereit"
status frmTest.lblStatus "Fertig"
step 15 ok: wait frmTest lblStatus "Fertig" 5
value frmTest.lblStatus "Fertig"
step 16 ok: dump frmTest.lblStatus
node 1 "Store" unticked
node 2 "Store|Posteingang" ticked
node 3 "Store|Gesendet" unticked
step 17 ok: dump frmTest.TreeView1
value frmTest.lstOrdner "C:\\\nhome\nanna"
step 18 ok: dump frmTest.lstOrdner
value frmTest.chkA "1"
step 19 ok: dump frmTest.chkA
value frmTest.lblHidden "verborgen" hidden
step 20 ok: dump frmTest.lblHidden
value frmTest.cmdOff "Aus" disabled
step 21 ok: dump frmTest.cmdOff
step 22 ok: shot shot.png
step 23 ok: click frmTest.cmdNav(3)
window frmZwei shown
step 24 ok: wait frmZwei
window frmTest closed
)");
    std::vector<std::string> expected = {"change A",
                                         "change Ab",
                                         "change Ab ",
                                         "change Ab \"",
                                         "change Ab \"c",
                                         "change Ab \"c\"",
                                         "cmdNav 2",
                                         "cmdNav 2",
                                         "nodecheck Posteingang on",
                                         "nodecheck Gesendet off",
                                         "tab 1",
                                         "click home",
                                         "click anna",
                                         "open anna",
                                         "drive 1",
                                         "chkA on",
                                         "Esc",
                                         "cmdNav 3"};
    EXPECT_EQ(form.events, expected);
    EXPECT_EQ(form.txtName->text(), "Ab \"c\"");
    QImage shot(QString::fromStdString(dir + "/shot.png"));
    EXPECT_FALSE(shot.isNull());
    EXPECT_GE(shot.width(), 300);
    int painted = 0;  // the form's light background, not the black fill around windows
    for (int y = 0; y < shot.height(); y += 7)
        for (int x = 0; x < shot.width(); x += 7) painted += shot.pixelColor(x, y) != Qt::black;
    EXPECT_GT(painted, (shot.width() / 7) * (shot.height() / 7) / 2);
}

TEST_F(ScriptedUserTest, StepsGoOnInsideAModalWindowWhichBlocksItsOwner) {
    TestForm form;
    ScriptRun r = run(form,
                      "click frmTest.cmdNav(4)\nclick dlgModal.cmdSchliessen\n"
                      "click frmTest.cmdNav(1)\n");
    EXPECT_TRUE(r.failures.empty()) << r.transcript;
    std::vector<std::string> expected = {"cmdNav 4", "modal open", "modal closed", "cmdNav 1"};
    EXPECT_EQ(form.events, expected);

    TestForm blocked;
    r = run(blocked, "click frmTest.cmdNav(4)\nclick frmTest.cmdNav(1)\n");
    EXPECT_EQ(r.failures, std::vector<int>{3});
    EXPECT_NE(r.transcript.find("step 2 failed: click frmTest.cmdNav(1): window frmTest blocked "
                                "by dlgModal\n"),
              std::string::npos)
        << r.transcript;
}

TEST_F(ScriptedUserTest, TypingAnEmptyTextClearsTheBox) {
    TestForm form;
    form.txtName->setText("alt");
    form.events.clear();
    ScriptRun r = run(form, "type frmTest.txtName \"\"\n");
    EXPECT_TRUE(r.failures.empty());
    EXPECT_EQ(form.txtName->text(), "");
    EXPECT_EQ(form.events, std::vector<std::string>{"change "});
}

TEST_F(ScriptedUserTest, FailingStepsAreTranscribedWithTheirReason) {
    struct Case {
        const char* script;
        const char* failed_line;
    } cases[] = {
        {"click frmTest.cmdNix\n",
         "step 1 failed: click frmTest.cmdNix: no control frmTest.cmdNix"},
        {"wait frmNirgends 0.2\n",
         "step 1 failed: wait frmNirgends 0.2: window frmNirgends not shown"},
        {"click frmTest.cmdOff\n",
         "step 1 failed: click frmTest.cmdOff: frmTest.cmdOff not enabled"},
        {"click frmTest.lblHidden\n",
         "step 1 failed: click frmTest.lblHidden: frmTest.lblHidden not visible"},
        {"answer Yes\n", "step 1 failed: answer Yes: no message box"},
        {"click frmTest.cmdNav(2)\nanswer Yes if \"Anderes\"\n",
         "step 2 failed: answer Yes if \"Anderes\": the message box does not hold \"Anderes\""},
        {"click frmTest.cmdNav(2)\nanswer OK\n",
         "step 2 failed: answer OK: the message box has no button OK"},
        {"# nothing\n\nfrobnicate frmTest\n", "step 1 failed: frobnicate frmTest: unknown step"},
        {"type frmTest.txtName\n",
         "step 1 failed: type frmTest.txtName: expected FORM.CONTROL \"text\""},
        {"type frmTest.txtName \"open\n",
         "step 1 failed: type frmTest.txtName \"open: unterminated text"},
        {"wait frmTest lblStatus \"nie\" 0.2\n",
         "step 1 failed: wait frmTest lblStatus \"nie\" 0.2: frmTest.lblStatus shows \"\""},
        {"select frmTest.lstOrdner \"fehlt\"\n",
         "step 1 failed: select frmTest.lstOrdner \"fehlt\": no entry \"fehlt\""},
        {"tick frmTest.TreeView1 \"Store|Fehlt\"\n",
         "step 1 failed: tick frmTest.TreeView1 \"Store|Fehlt\": no node \"Store|Fehlt\""},
        {"type frmTest.chkA \"x\"\n",
         "step 1 failed: type frmTest.chkA \"x\": frmTest.chkA takes no text"},
        {"key frmTest Hyper\n", "step 1 failed: key frmTest Hyper: unknown key Hyper"},
    };
    for (const auto& c : cases) {
        platform::set_transcript_file(transcript);
        TestForm form;
        ScriptRun r = run(form, c.script);
        EXPECT_EQ(r.failures, std::vector<int>{3}) << c.script;
        EXPECT_NE(r.transcript.find(std::string(c.failed_line) + "\n"), std::string::npos)
            << c.script << "\n"
            << r.transcript;
    }
}

TEST_F(ScriptedUserTest, LaterStepsWaitForTheirWindow) {
    TestForm form;
    // The second form appears only after a while; the step waits for it.
    QTimer::singleShot(300, &form, [&] { form.cmdNav_Click(3); });
    ScriptRun r = run(form, "wait frmZwei 5\ndump frmZwei\n", 5000);
    EXPECT_TRUE(r.failures.empty()) << r.transcript;
    EXPECT_NE(r.transcript.find("step 1 ok: wait frmZwei 5\nvalue frmZwei \"\"\nstep 2 ok"),
              std::string::npos)
        << r.transcript;
}

TEST(ParseScript, WordsTextsAndNumbering) {
    auto steps = platform::ui::parse_script(
        "# comment\r\n\r\nanswer Yes if \"Fort\\nsetzen\"  # trailing\r\n"
        "tick frmMorvo.TreeView1 \"A|B\" off\nwait frmHin lblStatus \"x y\" 60\nshot a.png\n");
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].number, 1);
    EXPECT_EQ(steps[0].text, "answer Yes if \"Fort\\nsetzen\"");
    EXPECT_EQ(steps[0].words, std::vector<std::string>{"Yes"});
    EXPECT_EQ(steps[0].texts, std::vector<std::string>{"Fort\nsetzen"});
    EXPECT_EQ(steps[1].form, "frmMorvo");
    EXPECT_EQ(steps[1].control, "TreeView1");
    EXPECT_EQ(steps[1].texts, std::vector<std::string>{"A|B"});
    EXPECT_EQ(steps[1].words, std::vector<std::string>{"off"});
    EXPECT_EQ(steps[2].control, "lblStatus");
    EXPECT_EQ(steps[2].words, std::vector<std::string>{"60"});
    EXPECT_EQ(steps[3].form, "a.png");
    for (const auto& s : steps) EXPECT_EQ(s.error, "") << s.text;
}

// The whole program path: run_program with a script, in a child process of this test.
TEST(RunProgram, ExitStatusIsThreeAfterAFailedStepAndZeroAfterTheProgramEnds) {
    if (std::getenv("VELTRIN_TEST_CHILD")) GTEST_SKIP() << "runs as the child";
    testsupport::TempDir scratch("run");
    const std::string& dir = scratch.path();
    struct Case {
        const char* script;
        int status;
        const char* tail;
    } cases[] = {
        {"click frmTest.cmdNav(1)\nclick frmTest.cmdNix\n", 3,
         "step 2 failed: click frmTest.cmdNix: no control frmTest.cmdNix\n"},
        {"key frmTest F2\nanswer Yes if \"beenden\"\n", 0,
         "msgbox title=\"Test\" icon=question buttons=YesNo default=Yes "
         "text=\"Programm beenden?\" -> Yes\nstep 2 ok: answer Yes if \"beenden\"\n"
         "window frmTest closed\n"},
    };
    for (const auto& c : cases) {
        std::string script = dir + "/script.txt", transcript = dir + "/transcript.txt";
        std::ofstream(script) << c.script;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("VELTRIN_TEST_CHILD", "1", 1);
            ::setenv("VELTRIN_USER_SCRIPT", script.c_str(), 1);
            ::setenv("VELTRIN_TRANSCRIPT", transcript.c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("VELTRIN_STEP_TIMEOUT", "0.5", 1);
            ::execl("/proc/self/exe", "platform_gui_tests", "--gtest_filter=RunProgram.Child",
                    "--gtest_also_run_disabled_tests", nullptr);
            ::_exit(99);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.script;
        std::string t = slurp(transcript);
        ASSERT_GE(t.size(), std::string(c.tail).size()) << t;
        EXPECT_EQ(t.substr(t.size() - std::string(c.tail).size()), c.tail) << t;
        EXPECT_EQ(t.rfind("window frmTest shown\n", 0), 0u) << t;
    }
}

// A program with one form: Esc asks whether to end and ends through the program's End.
TEST(RunProgram, Child) {
    if (!std::getenv("VELTRIN_TEST_CHILD")) GTEST_SKIP() << "started by the test above";
    QApplication& a = app();
    TestForm form;
    int status = platform::ui::run_program(a, "Test", [&] { form.show(); });
    std::_Exit(status);
}

}  // namespace
