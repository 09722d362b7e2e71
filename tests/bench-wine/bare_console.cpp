// The plain alternative for the command line's start-up benchmark: a console program
// that writes one line and ends.
#include <cstdio>

int main() {
    std::puts("no supported drive");
    return 0;
}
