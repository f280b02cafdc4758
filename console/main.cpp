#include "console/app.h"

int main(int argc, char **argv) {
    return vyn::console::Run(argc, argv);
}
