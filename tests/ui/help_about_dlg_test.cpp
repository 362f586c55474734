#include "app/global.h"
#include "fake_tray_shell.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/help_dlg.h"
#include "ui/main/tallynet_dlg.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

using namespace tn;
using tn::ui::CAboutDlg;
using tn::ui::CHelp;

// Runs `step` on the modal dialog that the next exec() shows.
void onNextModal(QObject* context, std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, context, [step = std::move(step)] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        step(modal);
    });
}

// A capture library that opens nothing and only tells its version.
class VersionOnlyCapture final : public ICaptureFactory {
public:
    std::unique_ptr<ICaptureDevice> openLive(const std::string&, const CaptureOptions&,
                                             CaptureOpenStatus& status, std::string&) override {
        status = CaptureOpenStatus::DeviceFailed;
        return nullptr;
    }
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path&, std::string&) override {
        return nullptr;
    }
    std::string libraryVersion() const override { return "libpcap version 1, 10, 4 (with X)"; }
};

// The executable lives in <temp>/bin, so its readme.doc is <temp>/bin/readme.doc.
class BinPaths final : public IPaths {
public:
    explicit BinPaths(std::filesystem::path root) : m_root(std::move(root)) {}
    std::filesystem::path dataDirectory() const override { return m_root / "data"; }
    std::filesystem::path configDirectory() const override { return m_root / "config"; }
    std::filesystem::path runtimeDirectory() const override { return m_root; }
    std::filesystem::path executablePath() const override { return m_root / "bin/tallynet"; }

private:
    std::filesystem::path m_root;
};

} // namespace

class HelpAboutTest : public QObject {
    Q_OBJECT
private slots:
    void help_showsTheTextBeforeTheZeroByte_editableButNeverSaved() {
        test::FakePlatform fake;
        const auto file = fake.dir / "readme.doc";
        const std::string bytes("Tallynet help\nsecond line\0junk after", 36);
        test::writeText(file, bytes);
        CHelp help({fake.dir / "absent.doc", file}, fake.services().files);
        QCOMPARE(help.windowTitle(), QString("Tallynet Help"));
        QPlainTextEdit* text = help.findChild<QPlainTextEdit*>("1028");
        QVERIFY(text == help.textControl());
        QCOMPARE(text->toPlainText(), QString("Tallynet help\nsecond line"));
        QVERIFY(!text->isReadOnly());
        QCOMPARE(text->accessibleName(), QString("Help text"));
        auto* ok = help.findChild<QPushButton*>("1");
        QVERIFY(ok && ok->isDefault());
        QCOMPARE(ok->accessibleName(), QString("OK"));

        help.show();
        QTest::keyClicks(text, "typed by the user");
        QVERIFY(text->toPlainText().contains("typed by the user"));
        ok->click();
        QCOMPARE(help.result(), int(QDialog::Accepted));
        QCOMPARE(test::readText(file), bytes);
    }

    void help_noFile_showsNotFound() {
        test::FakePlatform fake;
        CHelp help({fake.dir / "readme.doc"}, fake.services().files);
        QCOMPARE(help.textControl()->toPlainText(), QString("{Help File not found}"));
    }

    void about_showsItsLineAndCrossCursor_andIsCentredOnItsParent() {
        QWidget parent;
        parent.setGeometry(200, 150, 453, 283);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        CAboutDlg about("ver 1.0.0.0  [libpcap-v.1.10.3]", &parent);
        auto* ctrl = about.findChild<ui::CAboutCtrl*>("1014");
        QVERIFY(ctrl == about.aboutControl());
        QCOMPARE(ctrl->aboutText(), QString("ver 1.0.0.0  [libpcap-v.1.10.3]"));
        QVERIFY(ctrl->accessibleName().contains("[libpcap-v.1.10.3]"));
        QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(about.cursor().shape(), Qt::CrossCursor);
        QCOMPARE(ctrl->cursor().shape(), Qt::CrossCursor);
        QVERIFY(!ctrl->isAnimating()); // nothing runs before the box is shown

        about.show();
        QVERIFY(ctrl->isAnimating());
        QCOMPARE(ctrl->frame().size(), ctrl->size());
        const QPoint offset = about.frameGeometry().center() - parent.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QString("off centre by %1,%2").arg(offset.x()).arg(offset.y())));
        about.close();
        QVERIFY(!ctrl->isAnimating());
    }

    void about_leftButtonReleaseCloses_otherButtonsDoNot_andNoTimerIsLeft() {
        CAboutDlg about("ver 1.0.0.0  [libpcap-v.1.10.3]");
        bool wasAnimating = false;
        onNextModal(&about, [&](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(&about));
            wasAnimating = about.aboutControl()->isAnimating();
            // A release over the picture reaches the box as well.
            QTest::mouseRelease(about.aboutControl(), Qt::RightButton, {}, QPoint(30, 30));
            QVERIFY(about.isVisible());
            QTest::mouseRelease(about.aboutControl(), Qt::LeftButton, {}, QPoint(30, 30));
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QVERIFY(wasAnimating);
        QVERIFY(!about.aboutControl()->isAnimating());
    }

    void about_escapeCloses_andNoTimerIsLeft() {
        CAboutDlg about("ver 1.0.0.0  [libpcap-v.1.10.3]");
        onNextModal(&about, [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(about.exec(), int(QDialog::Rejected));
        QVERIFY(!about.aboutControl()->isAnimating());
    }

    void mainWindow_helpAndAboutButtonsOpenTheirWindows() {
        test::FakePlatform fake;
        std::filesystem::create_directories(fake.dir / "bin");
        test::writeText(fake.dir / "bin/readme.doc", "help beside the program");
        BinPaths paths(fake.dir.path());
        VersionOnlyCapture capture;
        PlatformServices os = fake.services();
        os.paths = &paths;
        os.capture = &capture;
        CGlobal global(os);
        test::FakeStatisticsOwner stats;
        ui::MainWindowServices services;
        services.global = &global;
        services.clock = &fake.clock;
        services.interfaces = &fake.interfaces;
        services.stats = &stats;
        services.trayShell = std::make_unique<test::FakeTrayShell>();
        ui::CTallynetDlg dlg(std::move(services));

        QString helpText;
        onNextModal(&dlg, [&](QWidget* modal) {
            auto* help = qobject_cast<CHelp*>(modal);
            QVERIFY(help != nullptr);
            helpText = help->textControl()->toPlainText();
            help->accept();
        });
        static_cast<QPushButton*>(dlg.control(1022))->click();
        QCOMPARE(helpText, QString("help beside the program"));

        QString aboutLine;
        onNextModal(&dlg, [&](QWidget* modal) {
            auto* about = qobject_cast<CAboutDlg*>(modal);
            QVERIFY(about != nullptr);
            aboutLine = about->aboutControl()->aboutText();
            QTest::keyClick(about, Qt::Key_Escape);
        });
        static_cast<QPushButton*>(dlg.control(1013))->click();
        QCOMPARE(aboutLine, QString::fromStdString("ver " + CGlobal::programVersionText() +
                                                   "  [libpcap-v.1.10.4]"));
        // Neither window outlives its command.
        QVERIFY(dlg.findChildren<QDialog*>().isEmpty());
    }
};

QTEST_MAIN(HelpAboutTest)
#include "help_about_dlg_test.moc"
