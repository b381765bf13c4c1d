// The program's entry: build the window, run the message loop, and show
// whatever error escapes. The exit code is always 0.
#include "Unit1.h"

int main(int, char**)
{
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
        Application->Run();
    } catch (Exception& exception) {
        Application->ShowException(&exception);
    } catch (...) {
        try {
            throw Exception("");
        } catch (Exception& exception) {
            Application->ShowException(&exception);
        }
    }
    return 0;
}
