// Switches for what happens to the board from outside: the camera board plugged, each HDMI
// source (off or a resolution, 3D), a USB stick (a folder of the PC: captured pictures land
// there), the USB keypad and mouse, a headset, the core temperature, and faults (the camera
// board silent, a chip that stops answering). The switches follow the board's state, so
// they show what someone else did to it too.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QJsonObject>
#include <QLineEdit>
#include <QSpinBox>

#include "tools/scope/BoardLink.h"

namespace scope {

constexpr int kHdmiInputs = 2;

class BoardEventsBox : public QGroupBox {
    Q_OBJECT
public:
    BoardEventsBox(BoardLink& link, const QString& stickFolder, QWidget* parent = nullptr);

    // Brings the switches in line with the board's state (as `ostrix-sim status` gives it).
    void showStatus(const QJsonObject& status);

    QCheckBox* keypadSwitch() const { return keypad_; }
    QLineEdit* stickFolder() const { return stickFolder_; }

private:
    QWidget* plugRow();
    QWidget* hdmiRow(int input);
    QWidget* stickRow();
    QWidget* headsetRow();
    QWidget* faultRow();
    void sendHdmi(int input);
    void sendStick(bool inserted);
    void sendChipFault(bool failing);
    void showHdmi(int input, const QString& source);
    void showChips(const QJsonObject& i2c);
    void send(std::vector<std::string> args) { link_.send(std::move(args)); }

    BoardLink& link_;
    QCheckBox* camera_ = nullptr;
    QCheckBox* keypad_ = nullptr;
    QCheckBox* mouse_ = nullptr;
    QComboBox* hdmi_[kHdmiInputs] = {};
    QCheckBox* hdmi3d_[kHdmiInputs] = {};
    QLineEdit* stickFolder_ = nullptr;
    QCheckBox* stick_ = nullptr;
    QComboBox* headset_ = nullptr;
    QSpinBox* temperature_ = nullptr;
    QCheckBox* cameraSilent_ = nullptr;
    QComboBox* chip_ = nullptr;
    QCheckBox* chipFails_ = nullptr;
};

} // namespace scope
