#include "ui/main/system_tray.h"

#include "fake_tray_shell.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

using tn::test::FakeTrayShell;
using tn::ui::CSystemTray;

class SystemTrayTest : public QObject {
    Q_OBJECT

    // The tray keeps its shell; the test keeps a pointer to look at the calls.
    std::unique_ptr<CSystemTray> make(FakeTrayShell*& shell, bool area = true) {
        auto owned = std::make_unique<FakeTrayShell>();
        owned->areaAvailable = area;
        shell = owned.get();
        return std::make_unique<CSystemTray>(std::move(owned));
    }

private slots:
    void sameIconTwice_callsTheShellOnce_firstSetAfterCreateAlwaysCalls() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        QVERIFY(tray->create(QString(), 134, 2000));
        QCOMPARE(shell->calls, QStringList{"add 134 "});
        // Create does not set the current icon, so the same picture is still sent once.
        QCOMPARE(tray->setIcon(134), 1);
        QCOMPARE(tray->setIcon(134), 0);
        QCOMPARE(tray->setIcon(137), 1);
        QCOMPARE(tray->setIcon(137), 0);
        QCOMPARE(shell->calls, (QStringList{"add 134 ", "icon 134", "icon 137"}));
    }

    void longTooltip_isCutTo127Characters() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        tray->create(QString(200, QChar('x')), 134, 2000);
        QCOMPARE(shell->lastTooltip.size(), 127);
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QChar('a' + i % 26);
        tray->setTooltipText(text);
        QCOMPARE(shell->lastTooltip, text.left(127));
        QCOMPARE(tray->tooltip().size(), 127);
    }

    void areaComesBack_iconReturnsWithLatestPictureAndTooltip() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        tray->create("start", 134, 2000);
        tray->setIcon(136);
        tray->setTooltipText("In : 1.00 KB  Out : 0 B");
        shell->areaAvailable = false; // the panel went away
        tray->checkNotificationArea();
        shell->calls.clear();
        shell->areaAvailable = true;
        tray->checkNotificationArea();
        QCOMPARE(shell->calls, QStringList{"add 136 In : 1.00 KB  Out : 0 B"});
        tray->checkNotificationArea(); // still there: nothing more
        QCOMPARE(shell->calls.size(), 1);
    }

    void noAreaAtStart_changesAreKept_andShownWhenTheAreaAppears() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell, false);
        QVERIFY(!tray->create(QString(), 134, 2000));
        QVERIFY(tray->isHidden());
        QCOMPARE(tray->setIcon(135), 1); // stored, not sent
        tray->setTooltipText("In : 0 B  Out : 64 B");
        QVERIFY(shell->calls.isEmpty());
        shell->areaAvailable = true;
        tray->checkNotificationArea();
        QCOMPARE(shell->calls, QStringList{"add 135 In : 0 B  Out : 64 B"});
        QVERIFY(!tray->isHidden());
    }

    void failedAdd_keepsTheIconHidden_untilTheAreaComesBack() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        shell->addSucceeds = false;
        QVERIFY(!tray->create(QString(), 134, 2000));
        QCOMPARE(tray->setIcon(137), 1);
        QCOMPARE(shell->calls.size(), 1); // only the failed add
        shell->addSucceeds = true;
        shell->areaAvailable = false;
        tray->checkNotificationArea();
        shell->areaAvailable = true;
        tray->checkNotificationArea();
        QCOMPARE(shell->calls.last(), QString("add 137 "));
    }

    void remove_deletesOnce_andTheIconStaysGone() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        tray->create(QString(), 134, 2000);
        QCOMPARE(tray->removeIcon(), 1);
        QCOMPARE(tray->removeIcon(), 1);
        QCOMPARE(tray->setIcon(137), 0);
        shell->areaAvailable = false;
        tray->checkNotificationArea();
        shell->areaAvailable = true;
        tray->checkNotificationArea();
        QCOMPARE(shell->calls, (QStringList{"add 134 ", "remove"}));
    }

    void trayAreaRect_isTheIconWhenKnown_elseTheWorkAreaCorner() {
        FakeTrayShell* shell = nullptr;
        auto tray = make(shell);
        tray->create(QString(), 134, 2000);
        shell->geometry = QRect(1200, 770, 24, 24);
        QCOMPARE(tray->trayAreaRect(), QRect(1200, 770, 24, 24));
        shell->geometry = QRect();
        const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect corner = tray->trayAreaRect();
        QCOMPARE(corner.bottomRight(), work.bottomRight());
        QCOMPARE(corner.left(), work.right() - 150);
        QCOMPARE(corner.top(), work.bottom() - 30);
    }
};

QTEST_MAIN(SystemTrayTest)
#include "system_tray_test.moc"
