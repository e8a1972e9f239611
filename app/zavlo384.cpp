// The window program: the application, the main window, its creation handler and the
// event loop. Errors on the way are shown and the program goes on or ends with 0.
#include <string>
#include <vector>

#include "app/Main.h"
#include "common/Cp1250.h"

int main(int argc, char** argv) {
    // The script lines and options as given, taken before Qt removes its own options
    // from the command line.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(zv::Utf8ToCp1250(argv[i]));

    zv::gui::TApplication application(argc, argv);
    zv::gui::Guarded([&] {
        TForm1 Form1;
        Form1.FormCreate(args);
        Form1.show();
        application.exec();
    });
    return 0;
}
