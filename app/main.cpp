// Farlink's entry point: reads the command line and starts the program.
#include <cstdio>
#include <cstring>

namespace {

void printUsage(std::FILE* out) {
    std::fputs("Usage: farlink [--root DIR] [--platform keypad|touch]\n"
               "       farlink --help | --version\n"
               "\n"
               "A keyboard-first FTP client for the terminal.\n"
               "  --root DIR       the folder shown as the device's file system (default /)\n"
               "  --platform KIND  keypad (default) or touch\n",
               out);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("farlink %s\n", FARLINK_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage(stdout);
            return 0;
        }
    }
    printUsage(stdout);
    return 0;
}
