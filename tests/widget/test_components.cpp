// The component layer's contracts, and how the form reader fails on a bad
// definition, on the offscreen platform.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

class TProbeForm : public TForm {
public:
    TButton* Button = nullptr;
    TScrollBar* Bar = nullptr;
    std::vector<std::pair<TScrollCode, int>> scrolls;

    TProbeForm(const std::string& resource) : TForm(Application)
    {
        ReadForm("TProbeForm", resource,
                 TPublished()
                     .Field("Button", Button)
                     .Field("Bar", Bar)
                     .Method("ButtonClick", TNotifyEvent([](TObject*) {}))
                     .Method("BarScroll", TScrollEvent([this](TObject*, TScrollCode code, int& pos) {
                                 scrolls.push_back({code, pos});
                             })));
    }
};

// The application's style, counting the texts it is asked to draw.
class TextCountingStyle : public QProxyStyle {
public:
    mutable int texts = 0;
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                      const QString& text, QPalette::ColorRole role) const override
    {
        ++texts;
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
    }
};

} // namespace

class ComponentTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Application->Initialize(); }

    // Interval 0 stops the timer and another starts it again; a tick that
    // comes while the handler still runs is dropped.
    void timerStopsAtZeroAndDropsNestedTicks()
    {
        TTimer timer(nullptr);
        int entered = 0, nested = 0;
        bool inside = false;
        timer.OnTimer = [&](TObject*) {
            nested += inside;
            if (++entered == 1) {
                inside = true;
                QTest::qWait(80); // an error box would spin the loop like this
                inside = false;
            }
        };
        timer.SetInterval(5);
        QTRY_VERIFY(entered >= 3);
        QCOMPARE(nested, 0);

        timer.SetInterval(0);
        QVERIFY(!timer.Active());
        const int stoppedAt = entered;
        QTest::qWait(60);
        QCOMPARE(entered, stoppedAt);
        timer.SetInterval(10);
        QTRY_VERIFY(entered >= stoppedAt + 3);
    }

    // The bar is drawn from cached pictures of itself and of its thumb; it
    // must look exactly as the style draws a scroll bar, wherever the thumb
    // is and after its size, range or state changed. Positions are clamped.
    void scrollBarLooksAsTheStyleDrawsIt()
    {
        TScrollBar bar(nullptr);
        QScrollBar plain(Qt::Horizontal);
        plain.setPageStep(1);
        const auto same = [&](const char* what) {
            plain.resize(bar.Widget()->size());
            plain.setRange(bar.Min(), bar.Max());
            plain.setValue(bar.Position());
            plain.setEnabled(bar.Widget()->isEnabled());
            QVERIFY2(bar.Widget()->grab().toImage() == plain.grab().toImage(), what);
        };
        bar.Widget()->resize(305, 25);
        for (int at : {0, 1, 37, 50, 99, 100, 250, -5}) { // clamped to 0..100
            bar.SetPosition(at);
            QCOMPARE(bar.Position(), std::clamp(at, 0, 100));
            same(QByteArray::number(at));
        }
        bar.Widget()->resize(120, 17);
        same("resized");
        bar.SetMax(100000);
        bar.SetPosition(65432);
        same("longer range");
        bar.Widget()->setEnabled(false);
        same("disabled");
        bar.SetMax(-10); // never moves the minimum
        QCOMPARE(bar.Min(), 0);

        // On screen, where moving the thumb repaints only its old and new
        // places, the bar must end up as a whole repaint draws it.
        bar.Widget()->setEnabled(true);
        bar.Widget()->resize(305, 25);
        bar.SetMax(1000);
        bar.Widget()->move(400, 400); // away from the pointer, which would light it up
        bar.Widget()->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar.Widget()));
        for (int at : {0, 3, 10, 250, 900, 1000, 480}) {
            bar.SetPosition(at);
            QCoreApplication::processEvents();
        }
        const QImage shown = bar.Widget()->screen()->grabWindow(bar.Widget()->winId()).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), bar.Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32));
    }

    void scrollNotificationsOncePerActionWithCode()
    {
        TProbeForm form("FORM_GOOD");
        form.Show();
        QWidget* bar = form.Bar->Widget();
        bar->setFocus();

        QTest::keyClick(bar, Qt::Key_Right);
        QTest::keyClick(bar, Qt::Key_PageDown);
        QTest::keyClick(bar, Qt::Key_End);
        QTest::keyClick(bar, Qt::Key_Home);
        using Scrolls = std::vector<std::pair<TScrollCode, int>>; // codes with the proposed positions
        QCOMPARE(form.scrolls, Scrolls({{scLineDown, 1}, {scPageDown, 2}, {scBottom, 100}, {scTop, 0}}));
        QCOMPARE(form.Bar->Position(), 0);

        // A click on the right arrow: one line step, then the end of scrolling.
        form.scrolls.clear();
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 3, bar->height() / 2));
        QVERIFY(form.scrolls.size() >= 2);
        QCOMPARE(form.scrolls.front().first, scLineDown);
        QCOMPARE(form.scrolls.back().first, scEndScroll);
    }

    // A caption of digits is drawn from pictures of its characters. It must
    // look exactly as a plain label draws it, in any size and state, the label
    // wide enough for it, and a new number must not be laid out as text again.
    void labelDrawsNumbersAsAPlainLabelDoes()
    {
        TLabel label(nullptr);
        QWidget* widget = label.Widget();
        TextCountingStyle style;
        widget->setStyle(&style);
        QLabel plain;
        plain.setAutoFillBackground(true);
        const auto same = [&](const char* caption) {
            label.SetText(caption);
            QVERIFY(widget->width() >= widget->sizeHint().width());
            plain.setFont(widget->font());
            plain.setEnabled(widget->isEnabled());
            plain.setText(caption);
            plain.resize(widget->size());
            QVERIFY2(widget->grab().toImage() == plain.grab().toImage(),
                     qPrintable(caption + QStringLiteral(" at ") + widget->font().toString()));
        };
        for (int pixels : {19, 11, 30}) {
            QFont font = widget->font();
            font.setPixelSize(pixels);
            widget->setFont(font);
            same("0");
            const int texts = style.texts;
            for (const char* caption : {"-1", "0123456789", "9876543210-", "-2147483648"})
                same(caption);
            QCOMPARE(style.texts, texts);
            same("Label1");
        }
        widget->setEnabled(false);
        same("-2048");
    }

    // The error box shows a long file name whole, broken across lines inside
    // the box, a box no wider than about the screen, and screen readers get
    // the message as it is.
    void errorBoxWrapsALongFileName()
    {
        const QString name = "/tmp/" + QString(250, 'n') + ".wav";
        const QString message = "Cannot open \"" + name + "\": it is not a sound file this program can read";
        QString heard;
        QRect screen, box, label;
        QSize needed;
        QTimer::singleShot(0, [&] {
            if (auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                auto* l = b->findChild<QLabel*>("qt_msgbox_label");
                heard = QAccessible::queryAccessibleInterface(l)->text(QAccessible::Name);
                screen = b->screen()->availableGeometry();
                box = b->frameGeometry();
                label = l->geometry();
                needed = QSize(l->sizeHint().width(), l->heightForWidth(l->width()));
                b->accept();
            }
        });
        const Exception error{AnsiString(message.toStdString())};
        Application->ShowException(&error);
        QCOMPARE(heard, message);
        QVERIFY2(box.width() <= screen.width() * 11 / 10 && QRect(QPoint(), box.size()).contains(label),
                 qPrintable(QString("label %1 in box %2 on screen %3").arg(label.width()).arg(box.width()).arg(screen.width())));
        // All of the text fits the label as laid out: no line is wider.
        QVERIFY2(needed.width() <= label.width() && needed.height() <= label.height(),
                 qPrintable(QString("%1x%2 in %3x%4").arg(needed.width()).arg(needed.height())
                                .arg(label.width()).arg(label.height())));
    }

    void badDefinitionsFailConstructionSayingWhatAndWhere()
    {
        const std::pair<const char*, QString> cases[] = {
            {"FORM_UNKNOWN_CLASS", "unknown class TFancyButton"},
            {"FORM_UNKNOWN_PROPERTY", "Button.Colour"},
            {"FORM_UNKNOWN_COMPONENT", "no member Knob"},
            {"FORM_UNKNOWN_HANDLER", "no handler ButtonPressed"},
            {"FORM_WRONG_TYPE", "Left: Property Left takes an integer"},
            {"FORM_WRONG_HANDLER", "OnClick does not take a click"},
            {"FORM_NONE", "no resource FORM_NONE"}};
        for (const auto& [resource, expected] : cases) {
            try {
                TProbeForm form(resource);
                QFAIL(resource);
            } catch (const Exception& e) { // what, and where in the definition
                const QString message = QString::fromUtf8(e.Message.c_str());
                QVERIFY2(message.contains(expected) && (expected.startsWith("no resource") || message.contains(
                                                            QRegularExpression("byte|component"))), qPrintable(message));
            }
        }
    }
};

QTEST_MAIN(ComponentTests)
#include "test_components.moc"
