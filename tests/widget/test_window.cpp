// The real window, built from its embedded definition, read back from the
// live widgets.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "Unit1.h"

class WindowTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Application->Initialize();
        Application->CreateForm(Form1);
        Form1->Show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1->Widget()));
    }
    void cleanupTestCase() { delete Form1; }

    // The live widgets, not the definition, match the designed layout.
    void iconLayoutCaptionsAndFonts()
    {
        QWidget* w = Form1->Widget();
        QCOMPARE(w->windowIcon().pixmap(32).toImage(), QImage(":/MAINICON").convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QCOMPARE(w->windowTitle(), QString("Form1"));
        QCOMPARE(w->frameGeometry(), QRect(212, 146, 870, 640)); // no frame offscreen
        QCOMPARE(w->font().pixelSize(), 11);
        QCOMPARE(w->font().family(), QString("MS Sans Serif"));
        QCOMPARE(w->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));

        const std::tuple<TControl*, QRect, const char*> controls[] = {
            {Form1->MediaPlayer1, {232, 400, 316, 49}, nullptr}, {Form1->btnrecord, {208, 472, 89, 41}, "Record"},
            {Form1->btnsave, {320, 472, 81, 41}, "Save"},        {Form1->btnstop, {424, 472, 89, 41}, "Stop"},
            {Form1->Play, {528, 472, 89, 41}, "Play"},           {Form1->btnopen, {96, 472, 89, 41}, "Open"},
            {Form1->Edit1, {24, 336, 273, 21}, nullptr},         {Form1->btnend, {640, 472, 97, 41}, "Exit"},
            {Form1->ScrollBar1, {328, 352, 305, 25}, nullptr}};
        for (const auto& [control, geometry, caption] : controls) {
            QCOMPARE(control->Widget()->geometry(), geometry);
            QCOMPARE(control->Widget()->parentWidget(), w);
            if (auto* button = dynamic_cast<TButton*>(control)) {
                QCOMPARE(button->Caption(), AnsiString(caption));
                QVERIFY(button->Enabled() && !button->ParentFont);
                QCOMPARE(button->Widget()->font().pixelSize(), 19);
                QCOMPARE(button->Widget()->font().family(), QString("MS Sans Serif"));
            }
        }
        // The font colour leaves disabled text greyed.
        const QPalette& palette = Form1->btnrecord->Widget()->palette();
        QVERIFY(palette.color(QPalette::Disabled, QPalette::ButtonText) !=
                palette.color(QPalette::Active, QPalette::ButtonText));

        QCOMPARE(Form1->Label1->Widget()->pos(), QPoint(328, 328));
        QCOMPARE(Form1->Label1->Widget()->font().pixelSize(), 11);
        QCOMPARE(Form1->Edit1->Widget()->font().pixelSize(), 11);
        QCOMPARE(Form1->ScrollBar1->Max(), 100);
        QCOMPARE(Form1->ScrollBar1->Position(), 0);
        QCOMPARE(Form1->Timer1->Interval(), 1000u);
        QVERIFY(Form1->Timer1->Enabled());
        Form1->Timer1Timer(Form1->Timer1); // a tick before any file leaves the caption
        QCOMPARE(Form1->Label1->GetText(), AnsiString("Label1"));
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
};

QTEST_MAIN(WindowTests)
#include "test_window.moc"
