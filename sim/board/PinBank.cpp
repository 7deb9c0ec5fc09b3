#include "sim/board/PinBank.h"

#include "platform/wiringPi.h"
#include "sim/board/Json.h"
#include "sim/board/Trace.h"

namespace sim {

namespace {
// Lines with pull-up resistors on the board: the I2C pair of the bus switch and the
// switch's active-low reset (so the switch runs while nobody drives it).
constexpr int kBoardPullUps[] = {2, 3, 17};
} // namespace

PinBank::PinBank(const std::string& statePath, Trace& trace) : state_(statePath), trace_(trace) {
    publish(std::make_unique<Hooks>());
    if (state_.valid() && state_->setupCount == 0) {
        for (int pin : kBoardPullUps) {
            state_->pins[pin].pullUp = 1;
        }
    }
}

// Pin by pin, with atomic stores: other threads and programs keep reading and driving
// the pins while the board restarts (the camera board drives its status pin from its
// link's thread), so the region is not rebuilt under them.
void PinBank::powerOn() {
    state_->setupCount = 0;
    for (PinBankState::Pin& p : state_->pins) {
        p.fsel = 0;
        p.piLevel = 0;
        p.pud = 0;
        p.drive = 0;
        p.pullUp = 0;
    }
    for (int pin : kBoardPullUps) {
        state_->pins[pin].pullUp = 1;
    }
}

int PinBank::resolve(int pin) const {
    const auto& p = state_->pins[pin];
    auto d = static_cast<Drive>(p.drive.load());
    if (d == Drive::Low) {
        return LOW;
    }
    if (p.fsel.load() == FSEL_OUTP) {
        return p.piLevel.load() ? HIGH : LOW;
    }
    if (d == Drive::High) {
        return HIGH;
    }
    if (p.pullUp.load() || p.pud.load() == PUD_UP) {
        return HIGH;
    }
    return LOW;
}

template <class F> void PinBank::changing(int pin, F change) {
    int before = resolve(pin);
    change(state_->pins[pin]);
    int after = resolve(pin);
    if (before == after) {
        return;
    }
    if (!(untracedPins_.load(std::memory_order_relaxed) & (uint64_t{1} << pin)) &&
        trace_.enabled(TraceKind::Gpio)) {
        trace_.note(TraceKind::Gpio, pin, after ? "high" : "low");
    }
    if (!(hookedPins_.load(std::memory_order_acquire) & (uint64_t{1} << pin))) {
        return;
    }
    const Hooks* hooks = hooks_.load(std::memory_order_acquire);
    for (const auto& h : *hooks) {
        if (h.pin == pin) {
            h.fn(pin, after);
        }
    }
}

void PinBank::setFunction(int pin, int fsel) {
    if (valid(pin)) {
        changing(pin, [fsel](PinBankState::Pin& p) { p.fsel = static_cast<uint8_t>(fsel); });
    }
}

void PinBank::setPull(int pin, int pud) {
    if (valid(pin)) {
        changing(pin, [pud](PinBankState::Pin& p) { p.pud = static_cast<uint8_t>(pud); });
    }
}

void PinBank::write(int pin, int level) {
    if (valid(pin)) {
        changing(pin, [level](PinBankState::Pin& p) { p.piLevel = level ? 1 : 0; });
    }
}

int PinBank::read(int pin) const {
    return valid(pin) ? resolve(pin) : LOW;
}
int PinBank::function(int pin) const {
    return valid(pin) ? state_->pins[pin].fsel.load() : FSEL_INPT;
}
int PinBank::outputLevel(int pin) const {
    return valid(pin) ? state_->pins[pin].piLevel.load() : LOW;
}
void PinBank::noteSetup() {
    state_->setupCount++;
}
uint32_t PinBank::setupCount() const {
    return state_->setupCount.load();
}

void PinBank::drive(int pin, Drive d) {
    if (valid(pin)) {
        changing(pin, [d](PinBankState::Pin& p) { p.drive = static_cast<uint8_t>(d); });
    }
}

Drive PinBank::driven(int pin) const {
    return valid(pin) ? static_cast<Drive>(state_->pins[pin].drive.load()) : Drive::None;
}

void PinBank::setExternalPullUp(int pin, bool on) {
    if (valid(pin)) {
        changing(pin, [on](PinBankState::Pin& p) { p.pullUp = on ? 1 : 0; });
    }
}

int PinBank::addEdgeHook(int pin, EdgeHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    int id = nextHookId_++;
    auto next = std::make_unique<Hooks>(*hooks_.load());
    next->push_back({id, pin, std::move(hook)});
    publish(std::move(next));
    if (valid(pin)) {
        hookedPins_.fetch_or(uint64_t{1} << pin);
    }
    return id;
}

void PinBank::removeEdgeHook(int id) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    auto next = std::make_unique<Hooks>(*hooks_.load());
    std::erase_if(*next, [id](const Hook& h) { return h.id == id; });
    uint64_t hooked = 0;
    for (const Hook& h : *next) {
        if (valid(h.pin)) {
            hooked |= uint64_t{1} << h.pin;
        }
    }
    publish(std::move(next));
    hookedPins_.store(hooked);
}

void PinBank::publish(std::unique_ptr<Hooks> next) {
    hooks_.store(next.get(), std::memory_order_release);
    hookLists_.push_back(std::move(next));
}

void PinBank::setEdgeTracing(int pin, bool on) {
    if (!valid(pin)) {
        return;
    }
    if (on) {
        untracedPins_.fetch_and(~(uint64_t{1} << pin));
    } else {
        untracedPins_.fetch_or(uint64_t{1} << pin);
    }
}

std::string PinBank::statusJson() const {
    static const char* kFunctionNames[] = {"in", "out", "alt5", "alt4", "alt0", "alt1", "alt2", "alt3"};
    constexpr int kFunctions = 8;
    JsonArray pins;
    for (int pin = 0; pin < kPinCount; ++pin) {
        JsonObject o;
        int fsel = function(pin);
        o.add("pin", pin);
        o.add("mode", fsel >= 0 && fsel < kFunctions ? kFunctionNames[fsel] : "?");
        o.add("level", read(pin));
        pins.addRaw(o.str());
    }
    return pins.str();
}

} // namespace sim
