// The real window, built from its embedded definition, read back from the
// live widgets.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "Resources.h"
#include "Unit1.h"

class WindowTests : public QObject {
    Q_OBJECT

    static QRect Geometry(TControl* c) { return c->Widget()->geometry(); }

private slots:
    void initTestCase()
    {
        Application->Initialize();
        Application->CreateForm(Form1);
        Form1->Show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1->Widget()));
    }
    void cleanupTestCase() { delete Form1; }

    void resourceIsABinaryFormStream()
    {
        QCOMPARE(QByteArray::fromStdString(LoadResource("TFORM1").substr(0, 4)), QByteArray("TPF0"));
        QVERIFY(!QIcon(":/MAINICON").isNull());
        const QImage icon(":/MAINICON");
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(icon.colorCount() > 0 && icon.colorCount() <= 16);
    }

    void windowProperties()
    {
        QWidget* w = Form1->Widget();
        QCOMPARE(w->windowTitle(), QString("Form1"));
        QCOMPARE(w->frameGeometry(), QRect(212, 146, 870, 640)); // no frame offscreen
        QCOMPARE(w->font().pixelSize(), 11);
        QCOMPARE(w->font().family(), QString("MS Sans Serif"));
        QCOMPARE(w->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
        QCOMPARE(Form1->Name, AnsiString("Form1"));
    }

    void controlsAtTheirPlaces()
    {
        QCOMPARE(Geometry(Form1->MediaPlayer1), QRect(232, 400, 316, 49));
        QCOMPARE(Geometry(Form1->btnrecord), QRect(208, 472, 89, 41));
        QCOMPARE(Geometry(Form1->btnsave), QRect(320, 472, 81, 41));
        QCOMPARE(Geometry(Form1->btnstop), QRect(424, 472, 89, 41));
        QCOMPARE(Geometry(Form1->Play), QRect(528, 472, 89, 41));
        QCOMPARE(Geometry(Form1->btnopen), QRect(96, 472, 89, 41));
        QCOMPARE(Geometry(Form1->Edit1), QRect(24, 336, 273, 21));
        QCOMPARE(Geometry(Form1->btnend), QRect(640, 472, 97, 41));
        QCOMPARE(Geometry(Form1->ScrollBar1), QRect(328, 352, 305, 25));
        QCOMPARE(Form1->Label1->Widget()->pos(), QPoint(328, 328));
        for (TControl* c : std::initializer_list<TControl*>{Form1->MediaPlayer1, Form1->btnrecord, Form1->Edit1,
                                                            Form1->Label1, Form1->ScrollBar1})
            QCOMPARE(c->Widget()->parentWidget(), Form1->Widget());
    }

    void captionsTextsAndFonts()
    {
        const std::pair<TButton*, const char*> buttons[] = {
            {Form1->btnopen, "Open"}, {Form1->btnrecord, "Record"}, {Form1->btnsave, "Save"},
            {Form1->btnstop, "Stop"}, {Form1->Play, "Play"},        {Form1->btnend, "Exit"}};
        for (const auto& [button, caption] : buttons) {
            QCOMPARE(button->Caption(), AnsiString(caption));
            QVERIFY(button->Enabled());
            QVERIFY(!button->ParentFont);
            QCOMPARE(button->Widget()->font().pixelSize(), 19);
            QCOMPARE(button->Widget()->font().family(), QString("MS Sans Serif"));
        }
        // The font colour leaves disabled text greyed.
        const QPalette& palette = Form1->btnrecord->Widget()->palette();
        QVERIFY(palette.color(QPalette::Disabled, QPalette::ButtonText) !=
                palette.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(Form1->Label1->GetText(), AnsiString("Label1"));
        QCOMPARE(Form1->Label1->Widget()->font().pixelSize(), 11);
        QVERIFY(Form1->Label1->ParentFont);
        QCOMPARE(Form1->Edit1->GetText(), AnsiString(""));
        QCOMPARE(Form1->Edit1->Widget()->font().pixelSize(), 11);
        QCOMPARE(Form1->ScrollBar1->Max(), 100);
        QCOMPARE(Form1->ScrollBar1->Position(), 0);
        QCOMPARE(Form1->Timer1->Interval(), 1000u);
        QVERIFY(Form1->Timer1->Enabled());
        QVERIFY(!openPending);
        QCOMPARE(Form1->MediaPlayer1->FileName(), AnsiString(""));
    }

    void tabOrderFromTheMediaControl()
    {
        QApplication::setActiveWindow(Form1->Widget());
        Form1->MediaPlayer1->Widget()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), Form1->MediaPlayer1->Widget());
        const TControl* expected[] = {Form1->btnrecord, Form1->btnsave, Form1->btnstop, Form1->Play,
                                      Form1->btnopen,   Form1->Edit1,   Form1->btnend,  Form1->ScrollBar1,
                                      Form1->MediaPlayer1};
        for (const TControl* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next->Widget());
        }
    }

    void tickBeforeAnyFileLeavesTheLabel()
    {
        Form1->Timer1Timer(Form1->Timer1);
        // The font colour leaves disabled text greyed.
        const QPalette& palette = Form1->btnrecord->Widget()->palette();
        QVERIFY(palette.color(QPalette::Disabled, QPalette::ButtonText) !=
                palette.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(Form1->Label1->GetText(), AnsiString("Label1"));
    }
};

QTEST_MAIN(WindowTests)
#include "test_window.moc"
