// A stand-in for the GUI program on its UDP port: it records every message the controller
// sends and answers each setting request with the setting's value, as the GUI does.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/messages.h"
#include "tests/unit/link/UdpPeer.h"

class StandInGui {
public:
    // value(index) gives the answer to a request for setting index.
    explicit StandInGui(std::function<int32_t(int)> value = [](int) { return 0; })
        : peer_(GUI_PORT), value_(std::move(value)), thread_([this] { serve(); }) {}
    ~StandInGui() {
        stop_.store(true);
        thread_.join();
    }
    StandInGui(const StandInGui&) = delete;
    StandInGui& operator=(const StandInGui&) = delete;

    // Sends a message to the controller from the GUI's port.
    void send(uint32_t command, uint32_t data = 0) const {
        peer_.sendMessage(CONTROLLER_PORT, command, data);
    }

    std::vector<message_s> received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    std::vector<std::vector<uint8_t>> datagrams() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_;
    }
    // The setting indices asked for, in order.
    std::vector<int> requests() const {
        std::vector<int> indices;
        for (const message_s& msg : received()) {
            if (eventCode(msg.command) == tEV_REQUEST) {
                indices.push_back(static_cast<int>(eventParameter(msg.command)));
            }
        }
        return indices;
    }
    // Waits until `count` setting requests have arrived; the controller's last request
    // may still be on its way when the controller has finished its side.
    bool waitForRequests(size_t count, int timeoutMs = kWaitMs) const {
        for (int waited = 0; requests().size() < count; waited += kPollMs) {
            if (waited >= timeoutMs) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        return true;
    }
    bool waitFor(uint32_t command, uint32_t data, int timeoutMs = kWaitMs) const {
        for (int waited = 0; !hasReceived(command, data); waited += kPollMs) {
            if (waited >= timeoutMs) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        return true;
    }
    bool hasReceived(uint32_t command, uint32_t data) const {
        for (const message_s& msg : received()) {
            if (msg.command == command && msg.data == data) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr int kPollMs = 5;
    static constexpr int kWaitMs = 5000;

    void serve() {
        while (!stop_.load()) {
            std::optional<Datagram> datagram = peer_.receive(kPollMs);
            if (!datagram) {
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                datagrams_.push_back(datagram->bytes);
            }
            if (datagram->bytes.size() != MESSAGE_WIRE_SIZE) {
                continue;
            }
            const message_s msg = decodeMessage(datagram->bytes.data());
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(msg);
            }
            if (eventCode(msg.command) == tEV_REQUEST) {
                const int index = static_cast<int>(eventParameter(msg.command));
                peer_.sendMessage(datagram->sourcePort, tEV_UPDATE | static_cast<uint32_t>(index),
                                  static_cast<uint32_t>(value_(index)));
            }
        }
    }

    UdpPeer peer_;
    std::function<int32_t(int)> value_;
    mutable std::mutex mutex_;
    std::vector<message_s> received_;
    std::vector<std::vector<uint8_t>> datagrams_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
