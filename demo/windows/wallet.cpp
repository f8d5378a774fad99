// quorvale-qt.exe of the demo download server, for Windows: the Quorvale wallet. It says who it is.
#include <cstdio>

int main() {
    std::printf("quorvale-qt: Quorvale Core wallet (qvl), demo build %s\n", QVL_DEMO_VERSION);
    std::printf("quorvale-qt: this demo wallet holds no keys and talks to no network.\n");
    return 0;
}
