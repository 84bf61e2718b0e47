// orvento: the application. Its one window is the player screen.
#include "app/OrventoApplication.h"

int main(int argc, char** argv) {
    return orvento::orventoMain(argc, argv);
}
