// The real window as a keyboard user, a screen reader and someone watching
// the transport bar meet it: Return and Enter on buttons, the accessibility
// tree, the scroll bar's focus mark, the level meter and the time tooltip.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QHelpEvent>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include "TestSupport.h"
#include "TransportBar.h"
#include "Unit1.h"

namespace {

// Records the rectangles of the paint events a widget gets.
class PaintLog : public QObject {
public:
    explicit PaintLog(QWidget* w) { w->installEventFilter(this); }
    std::vector<QRect> rects;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};

} // namespace

class AccessTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::string tone_;
    TransportBar* bar_ = nullptr;

    void OpenTone()
    {
        Form1->MediaPlayer1->SetFileName(AnsiString(tone_));
        Form1->MediaPlayer1->Open();
        QCOMPARE(Form1->MediaPlayer1->Mode(), mpStopped);
    }
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        tone_ = dir_.filePath("tone.wav").toStdString();
        QVERIFY(support::WriteSound(tone_, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, support::Tone16(44100 * 3, 1, 44100)));
        Application->Initialize();
        Application->CreateForm(Form1);
        Form1->Show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1->Widget()));
        QApplication::setActiveWindow(Form1->Widget());
        bar_ = static_cast<TransportBar*>(Form1->MediaPlayer1->Widget());
    }
    void cleanup() { Form1->MediaPlayer1->Stop(); }
    void cleanupTestCase() { delete Form1; }

    void returnAndEnterPressAFocusedButton()
    {
        TButton* buttons[] = {Form1->btnrecord, Form1->btnsave, Form1->btnstop,
                              Form1->Play,      Form1->btnopen, Form1->btnend};
        for (TButton* button : buttons) {
            const TNotifyEvent handler = button->OnClick;
            int clicks = 0;
            button->OnClick = [&](TObject*) { ++clicks; };
            button->Widget()->setFocus();
            QTRY_VERIFY(button->Widget()->hasFocus());
            QTest::keyClick(button->Widget(), Qt::Key_Return);
            QTest::keyClick(button->Widget(), Qt::Key_Enter, Qt::KeypadModifier);
            QTest::keyClick(button->Widget(), Qt::Key_A);
            button->OnClick = handler;
            QVERIFY2(clicks == 2, qPrintable(QString::fromUtf8(button->Caption().c_str())));
        }
    }

    // The edit box and the scroll bar by name; the transport bar as nine named buttons, pressable when enabled.
    void screenReadersHearTheControlsNames()
    {
        QCOMPARE(QAccessible::queryAccessibleInterface(Form1->Edit1->Widget())->text(QAccessible::Name),
                 QString("File name"));
        QCOMPARE(QAccessible::queryAccessibleInterface(Form1->ScrollBar1->Widget())->text(QAccessible::Name),
                 QString("Position"));
        Form1->MediaPlayer1->Close();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar_);
        QVERIFY(iface && iface->role() == QAccessible::ToolBar && !iface->text(QAccessible::Name).isEmpty());
        const QStringList names = {"Play",   "Pause", "Stop", "To start", "To end", "Step back one second",
                                   "Step forward one second", "Record", "Eject"};
        QCOMPARE(iface->childCount(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QAccessibleInterface* child = iface->child(i);
            QVERIFY(child && child->isValid() && child->parent() == iface && iface->indexOfChild(child) == i);
            QCOMPARE(child->text(QAccessible::Name), names[i]);
            QVERIFY(child->role() == QAccessible::Button && child->state().disabled); // nothing open
            const QRect r = child->rect();
            QCOMPARE(iface->childAt(r.center().x(), r.center().y()), child);
        }

        OpenTone();
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(iface->child(i)->state().disabled, !bar_->ButtonEnabled(i));

        QAccessibleActionInterface* play = iface->child(TransportModel::btPlay)->actionInterface();
        QVERIFY(play && play->actionNames().contains(QAccessibleActionInterface::pressAction()));
        play->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(Form1->MediaPlayer1->Mode(), mpPlaying);
        QVERIFY(!iface->child(TransportModel::btStop)->state().disabled && iface->child(TransportModel::btPlay)->state().disabled);
        // A disabled button offers nothing to press, and pressing it anyway does nothing.
        QVERIFY(iface->child(TransportModel::btPlay)->actionInterface()->actionNames().isEmpty());
        iface->child(TransportModel::btEject)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(Form1->MediaPlayer1->Mode(), mpPlaying);
        iface->child(TransportModel::btStop)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(Form1->MediaPlayer1->Mode(), mpStopped);
    }

    void scrollBarShowsWhenItHasTheFocus()
    {
        QWidget* bar = Form1->ScrollBar1->Widget();
        Form1->Edit1->Widget()->setFocus();
        QTRY_VERIFY(Form1->Edit1->Widget()->hasFocus());
        const QImage unfocused = bar->grab().toImage();
        bar->setFocus();
        QTRY_VERIFY(bar->hasFocus());
        QVERIFY(bar->grab().toImage() != unfocused);
    }

    // While playing, the meter follows the level of what is heard: it
    // repaints its strip, never a button, when the level moves, and nothing
    // while the level stays or once stopped. A click in the strip still
    // presses the button above it.
    void meterFollowsWhatIsPlayedInItsStripOnly()
    {
        // A quarter of a second loud, a quarter quiet, over and over.
        std::vector<short> beats = support::Tone16(44100 * 4, 1, 44100);
        for (std::size_t i = 0; i < beats.size(); ++i)
            beats[i] = static_cast<short>(i / 11025 % 2 ? beats[i] / 16 : beats[i]);
        const std::string path = dir_.filePath("beats.wav").toStdString();
        QVERIFY(support::WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, beats));
        Form1->MediaPlayer1->SetFileName(AnsiString(path));
        Form1->MediaPlayer1->Open();
        Form1->MediaPlayer1->Play();
        QTest::qWait(150);
        PaintLog log(bar_);
        QTest::qWait(1000);
        QVERIFY2(log.rects.size() >= 3, qPrintable(QString::number(log.rects.size())));
        for (const QRect& r : log.rects) {
            QVERIFY(bar_->MeterRect().contains(r));
            for (int i = 0; i < TransportModel::ButtonCount; ++i)
                QVERIFY(!r.intersects(bar_->ButtonRect(i)));
        }
        Form1->MediaPlayer1->Stop();
        QTest::qWait(100);
        log.rects.clear();
        QTest::qWait(400);
        QCOMPARE(log.rects.size(), size_t(0));

        // A steady tone leaves the strip alone once it is drawn.
        OpenTone();
        Form1->MediaPlayer1->Play();
        QTest::qWait(1300); // the held peak falls back once
        log.rects.clear();
        QTest::qWait(500);
        QCOMPARE(log.rects.size(), size_t(0));

        Form1->MediaPlayer1->Stop();
        const QRect play = bar_->ButtonRect(TransportModel::btPlay);
        QTest::mouseClick(bar_, Qt::LeftButton, {}, QPoint(play.center().x(), bar_->height() - 1));
        QCOMPARE(Form1->MediaPlayer1->Mode(), mpPlaying);
    }

    // The tooltip names the button and gives the time, in minutes and hours as they grow.
    void tooltipGivesTheButtonAndTheTime()
    {
        OpenTone();
        const QPoint at = bar_->ButtonRect(TransportModel::btToEnd).center();
        QHelpEvent help(QEvent::ToolTip, at, bar_->mapToGlobal(at));
        QApplication::sendEvent(bar_, &help);
        QTRY_COMPARE(QToolTip::text(), QString::fromUtf8("To end \u2014 0:00 / 0:03"));
        QToolTip::hideText();
        const std::pair<int, const char*> cases[] = {
            {0, "0:00"},          {-1500, "0:00"},         {999, "0:00"},          {12500, "0:12"},
            {185000, "3:05"},     {3599999, "59:59"},      {3600000, "1:00:00"},   {36061000, "10:01:01"},
            {2147483647, "596:31:23"}};
        for (const auto& [ms, text] : cases)
            QCOMPARE(FormatDuration(ms), QString(text));
    }
};

QTEST_MAIN(AccessTests)
#include "test_access.moc"
