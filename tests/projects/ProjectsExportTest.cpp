// The exported functions as another program uses them: the library is loaded by name with dlopen,
// the functions looked up by name, and called without a Qt application (the library makes one for
// the call). The test answers the windows from a timer that it starts through Qt's start-up hook
// as soon as the library's application exists.
#include "ShareTree.h"
#include "projects/CorvaneProjects.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
std::function<void(QWidget*)> answer; // acts once on the next modal window

void StartAnswering() {
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [timer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !answer) return;
        timer->stop();
        auto act = std::move(answer);
        answer = nullptr;
        act(modal);
    });
    timer->start(10);
}

// Waits for the navigator's list to show the search, then presses OK.
void PressOkOnceListed(QWidget* navigator) {
    auto* list = navigator->findChild<QListWidget*>("ListBox1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() > 0; }));
    QTest::mouseClick(navigator->findChild<QPushButton*>("ButtonOk"), Qt::LeftButton);
}

// Set in a process that runs one test alone (RunAlone).
constexpr char AloneVariable[] = "CORVANE_EXPORT_TEST_ALONE";

// Runs the current test again in a process of its own; its exit status, -1 when it did not exit.
int RunAlone() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = std::string(AloneVariable) + "=1 '" + program +
                                "' --gtest_filter=" + test->test_suite_name() + "." + test->name();
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One share and settings folder for the whole program: Qt reads the settings location once.
class ExportEnvironment : public testing::Environment {
public:
    void SetUp() override {
        share.Folders({"Produktion/2013/139501 Alpha", "Firmware/Work/1395 fw"});
        config.Folders({"Veltrask"});
        ::setenv("XDG_CONFIG_HOME", config.Root().c_str(), 1);
        std::ofstream(config.Root() + "Veltrask/Corvane.conf")
            << "[General]\nProjectShareRoot=" << share.Root() << "\n";
        library = ::dlopen("libcorvane_projects.so", RTLD_NOW);
        if (!library) loadError = ::dlerror();
        showGotoProj = reinterpret_cast<ShowGotoProjFormModalFunc>(::dlsym(library, "ShowGotoProjFormModal"));
        showInputQuery = reinterpret_cast<ShowInputQueryFunc>(::dlsym(library, "ShowInputQuery"));
        qAddPreRoutine(StartAnswering);
    }
    ShareTree share, config;
    void* library = nullptr;
    std::string loadError;
    ShowGotoProjFormModalFunc showGotoProj = nullptr;
    ShowInputQueryFunc showInputQuery = nullptr;
};
ExportEnvironment* env = nullptr;

// A failure in the environment would only skip the tests; each test checks the library instead.
class Exported : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(env->library, nullptr) << env->loadError;
        ASSERT_NE(env->showGotoProj, nullptr);
        ASSERT_NE(env->showInputQuery, nullptr);
    }
};

TEST_F(Exported, NavigatorIsFoundByNameAndReturnsTheChosenFolderAndNumber) {
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    char number[16], path[512];
    std::memset(number, 'X', sizeof number);
    answer = PressOkOnceListed;
    EXPECT_EQ(env->showGotoProj(nullptr, "1395", number, sizeof number, path, sizeof path), 1);
    EXPECT_STREQ(number, "139501");
    EXPECT_EQ(std::string(path), env->share.Root() + "Produktion/2013/139501 Alpha/");
    EXPECT_EQ(std::string(number + 7, number + sizeof number), std::string(sizeof number - 7, '\0'));
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the call's application is gone";
}

TEST_F(Exported, NavigatorNeverWritesPastTheStatedSizes) {
    char number[8], path[24];
    std::memset(number, 'X', sizeof number);
    std::memset(path, 'X', sizeof path);
    answer = PressOkOnceListed;
    ASSERT_EQ(env->showGotoProj(nullptr, "139501", number, 4, path, 10), 1);
    EXPECT_EQ(std::string(number, 8), std::string("139\0XXXX", 8));
    EXPECT_EQ(std::string(path, 9), env->share.Root().substr(0, 9));
    EXPECT_EQ(std::string(path + 9, path + 24), std::string(1, '\0') + std::string(14, 'X'));
}

TEST_F(Exported, NavigatorCancelAndEmptySelectionsLeaveOrClearTheBuffers) {
    char number[8] = "keep", path[8] = "keep";
    answer = [](QWidget* navigator) {
        QTest::mouseClick(navigator->findChild<QPushButton*>("Button2"), Qt::LeftButton);
    };
    EXPECT_EQ(env->showGotoProj(nullptr, "1395", number, sizeof number, path, sizeof path), 2);
    EXPECT_STREQ(number, "keep");
    // A double-click below the entries is OK without a selection: both texts come back empty.
    answer = [](QWidget* navigator) {
        auto* list = navigator->findChild<QListWidget*>("ListBox1");
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 2));
    };
    EXPECT_EQ(env->showGotoProj(nullptr, "no such project", number, sizeof number, nullptr, 0), 1);
    EXPECT_EQ(std::string(number, sizeof number), std::string(sizeof number, '\0'));
}

TEST_F(Exported, InputQueryShowsTheBufferAndReturnsTheValueCut) {
    char buffer[8] = "abc";
    std::memset(buffer + 4, 'X', 4);
    QString offered, caption, prompt;
    answer = [&](QWidget* modal) {
        auto* box = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(box, nullptr);
        offered = box->textValue();
        caption = box->windowTitle();
        prompt = box->labelText();
        box->setTextValue("wxyz12");
        box->accept();
    };
    EXPECT_EQ(env->showInputQuery("Channel List", "Enter it", buffer, 4), 1);
    EXPECT_EQ(offered, "abc");
    EXPECT_EQ(caption, "Channel List");
    EXPECT_EQ(prompt, "Enter it");
    EXPECT_EQ(std::string(buffer, 8), std::string("wxy\0XXXX", 8));

    answer = [](QWidget* modal) { qobject_cast<QInputDialog*>(modal)->reject(); };
    EXPECT_EQ(env->showInputQuery("c", "p", buffer, 4), 0);
    EXPECT_STREQ(buffer, "wxy");
}

// Qt's application lives on the thread of the first call: a call from another thread, while a
// call is open or after it, returns at once and leaves its buffer alone.
TEST_F(Exported, InputQueryRefusesCallsThatCannotRunSafely) {
    auto callFromAnotherThread = [] {
        char other[8] = "keep";
        auto call = std::async(std::launch::async, [&] { return env->showInputQuery("c", "p", other, 8); });
        ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_EQ(call.get(), 0);
        EXPECT_STREQ(other, "keep");
    };
    char buffer[8] = "";
    answer = [&](QWidget* modal) {
        callFromAnotherThread();
        qobject_cast<QInputDialog*>(modal)->setTextValue("mine");
        qobject_cast<QInputDialog*>(modal)->accept();
    };
    EXPECT_EQ(env->showInputQuery("c", "p", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "mine");
    callFromAnotherThread();
}

// Two threads of a program without Qt, neither of them its main thread, call at once: one call runs
// and the other is refused at once, its buffer untouched; a later call from yet another thread
// runs too, and the program ends cleanly. Qt keeps the thread that first runs it for the life of
// the process, and the calls above make that this process's main thread, so the test runs in a
// process of its own.
TEST_F(Exported, ConcurrentCallsFromOtherThreadsRunOneAtATime) {
    if (!std::getenv(AloneVariable)) {
        EXPECT_EQ(RunAlone(), 0);
        return;
    }
    ::alarm(120); // a call that never returns ends the process, not the whole run
    std::atomic<int> returned{0};
    answer = [&](QWidget* modal) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return returned == 1; })) << "the other call is refused at once";
        qobject_cast<QInputDialog*>(modal)->setTextValue("ran");
        qobject_cast<QInputDialog*>(modal)->accept();
    };
    char buffers[2][8] = {"keep", "keep"};
    int results[2] = {-1, -1};
    auto call = [&](int i) {
        results[i] = env->showInputQuery("c", "p", buffers[i], sizeof buffers[i]);
        ++returned;
    };
    std::thread first(call, 0), second(call, 1);
    first.join();
    second.join();
    const int ran = results[0] == 1 ? 0 : 1;
    EXPECT_EQ(results[ran], 1);
    EXPECT_EQ(results[1 - ran], 0);
    EXPECT_STREQ(buffers[ran], "ran");
    EXPECT_STREQ(buffers[1 - ran], "keep");
    answer = [](QWidget* modal) { qobject_cast<QInputDialog*>(modal)->accept(); };
    EXPECT_EQ(env->showInputQuery("c", "p", buffers[0], sizeof buffers[0]), 1);
}

TEST_F(Exported, InputQueryUsesTheCallersApplicationWhenThereIsOne) {
    int argc = 1;
    char name[] = "caller";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    char buffer[16] = "";
    answer = [](QWidget* modal) {
        qobject_cast<QInputDialog*>(modal)->setTextValue("\xC3\xA4rger");
        qobject_cast<QInputDialog*>(modal)->accept();
    };
    EXPECT_EQ(env->showInputQuery("c", "p", buffer, 4), 1);
    EXPECT_STREQ(buffer, "\xC3\xA4r") << "UTF-8, cut at a character's end";
    EXPECT_EQ(QCoreApplication::instance(), &app);
}
} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    env = new ExportEnvironment;
    testing::AddGlobalTestEnvironment(env);
    return RUN_ALL_TESTS();
}
