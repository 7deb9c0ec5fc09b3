#include "tools/check/BoardCheck.h"

int main() {
    return boardcheck::run(stdout);
}
