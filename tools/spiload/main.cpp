#include "tools/spiload/spiload.h"

int main(int argc, char** argv) {
    return spiload_main(argc, argv);
}
