// A stand-in for the chain archive that takes its time: it waits 800 ms and ends with code 3.
#include <windows.h>

int main() {
    Sleep(800);
    return 3;
}
