// The baseline for start-up time: the smallest Qt Widgets program that shows
// a window of the recorder's size with a few buttons.
#include <QApplication>
#include <QPushButton>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Bare");
    window.setGeometry(212, 146, 870, 640);
    for (int i = 0; i < 6; ++i)
        (new QPushButton("Button", &window))->setGeometry(96 + 110 * i, 472, 89, 41);
    window.show();
    return app.exec();
}
