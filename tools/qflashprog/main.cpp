#include "tools/qflashprog/qflashprog.h"

int main(int argc, char** argv) {
    return qflashprog_main(argc, argv);
}
