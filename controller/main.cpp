#include "controller/core/OstrixPi.h"

int main(int argc, char** argv) {
    return OstrixPi_main(argc, argv);
}
