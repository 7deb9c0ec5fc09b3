#include "sim/SimBackend.h"

#include <cstdlib>

#include "platform/wiringPi.h"

namespace sim {

SimBackend::SimBackend(std::unique_ptr<Board> board) : board_(std::move(board)) {}
SimBackend::~SimBackend() = default;

int SimBackend::setupGpio() {
    board_->pins().noteSetup();
    return 0;
}

void SimBackend::pinMode(int pin, int mode) {
    board_->pins().setFunction(pin, mode == OUTPUT ? FSEL_OUTP : FSEL_INPT);
}
void SimBackend::pinModeAlt(int pin, int fsel) {
    board_->pins().setFunction(pin, fsel);
}
void SimBackend::pullUpDnControl(int pin, int pud) {
    board_->pins().setPull(pin, pud);
}
void SimBackend::digitalWrite(int pin, int value) {
    board_->pins().write(pin, value);
}
int SimBackend::digitalRead(int pin) {
    return board_->pins().read(pin);
}

std::string SimBackend::shellPathPrefix() const {
    return standinsFolder();
}

std::string standinsFolder() {
    const char* overridden = std::getenv("OSTRIX_SIM_STANDINS");
    return overridden && *overridden ? overridden : OSTRIX_STANDINS_DIR;
}

} // namespace sim
