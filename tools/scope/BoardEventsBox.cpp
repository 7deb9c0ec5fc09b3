#include "tools/scope/BoardEventsBox.h"

#include <cstring>

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace scope {

namespace {

const char* const kSides[kHdmiInputs] = {"left", "right"};
const char* const kHdmiStatus[kHdmiInputs] = {"hdmi_rx_left", "hdmi_rx_right"};
const char* const kOff = "off";
constexpr const char* kHdmiModes[] = {"1920x1080@148.5", "1920x1080@74.25", "1280x720@74.25", "720x576@27",
                                      "640x480@25.175"};
const char* const k3dSuffix = " 3d";
constexpr int kMinTemperature = 0;
constexpr int kMaxTemperature = 125;
constexpr int kMilliPerDegree = 1000;
constexpr int kComboLetters = 14;
constexpr int kFolderMinimumWidth = 120;
enum HeadsetChoice { kNoHeadset, kHeadsetWithMicrophone, kHeadphones };

std::string text(const QString& s) {
    return s.toStdString();
}

// Switches that change the board only: the keyboard stays with the keypad.
template <class Widget> Widget* unfocused(Widget* w) {
    w->setFocusPolicy(Qt::NoFocus);
    return w;
}

// Combo boxes as wide as their longer entries need, not their longest.
QComboBox* narrowCombo(QWidget* parent) {
    auto* combo = unfocused(new QComboBox(parent));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(kComboLetters);
    return combo;
}

// Widgets side by side; with `packed` they keep to the left, else the first takes the room.
QWidget* row(QWidget* parent, std::initializer_list<QWidget*> widgets, bool packed = true) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets) {
        layout->addWidget(w);
    }
    if (packed) {
        layout->addStretch();
    }
    return box;
}

} // namespace

BoardEventsBox::BoardEventsBox(BoardLink& link, const QString& stickFolder, QWidget* parent)
    : QGroupBox(tr("Board events"), parent), link_(link) {
    auto* form = new QFormLayout(this);
    form->setVerticalSpacing(2);
    form->addRow(tr("Plugged in"), plugRow());
    for (int input = 0; input < kHdmiInputs; ++input) {
        form->addRow(tr("HDMI %1").arg(kSides[input]), hdmiRow(input));
    }
    form->addRow(tr("USB stick"), stickRow());
    stickFolder_->setText(stickFolder);
    form->addRow(tr("Headset"), headsetRow());
    form->addRow(tr("Faults"), faultRow());
}

QWidget* BoardEventsBox::plugRow() {
    camera_ = unfocused(new QCheckBox(tr("camera board"), this));
    keypad_ = unfocused(new QCheckBox(tr("USB keypad"), this));
    mouse_ = unfocused(new QCheckBox(tr("USB mouse"), this));
    connect(camera_, &QCheckBox::clicked, this, [this](bool on) {
        send({"camera", on ? "plug" : "unplug"});
    });
    connect(keypad_, &QCheckBox::clicked, this, [this](bool on) {
        send({"keypad", on ? "plug" : "unplug"});
    });
    connect(mouse_, &QCheckBox::clicked, this, [this](bool on) { send({"mouse", on ? "plug" : "unplug"}); });
    return row(this, {camera_, keypad_, mouse_});
}

QWidget* BoardEventsBox::hdmiRow(int input) {
    hdmi_[input] = narrowCombo(this);
    hdmi_[input]->addItem(kOff);
    for (const char* mode : kHdmiModes) {
        hdmi_[input]->addItem(mode);
    }
    hdmi3d_[input] = unfocused(new QCheckBox(tr("3D"), this));
    connect(hdmi_[input], qOverload<int>(&QComboBox::activated), this, [this, input] { sendHdmi(input); });
    connect(hdmi3d_[input], &QCheckBox::clicked, this, [this, input] { sendHdmi(input); });
    return row(this, {hdmi_[input], hdmi3d_[input]});
}

QWidget* BoardEventsBox::stickRow() {
    stickFolder_ = new QLineEdit(this);
    stickFolder_->setMinimumWidth(kFolderMinimumWidth);
    stickFolder_->setToolTip(tr("The PC folder the stick holds: captured pictures land there"));
    auto* choose = unfocused(new QPushButton(tr("Choose..."), this));
    stick_ = unfocused(new QCheckBox(tr("inserted"), this));
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, tr("The USB stick's folder"), stickFolder_->text());
        if (!folder.isEmpty()) {
            stickFolder_->setText(folder);
        }
    });
    connect(stick_, &QCheckBox::clicked, this, [this](bool inserted) { sendStick(inserted); });
    return row(this, {stickFolder_, choose, stick_}, false);
}

QWidget* BoardEventsBox::headsetRow() {
    headset_ = narrowCombo(this);
    headset_->addItems({tr("none"), tr("headset with microphone"), tr("headphones")});
    connect(headset_, qOverload<int>(&QComboBox::activated), this, [this](int choice) {
        if (choice == kNoHeadset) {
            send({"headset", "unplug"});
        } else {
            send(choice == kHeadphones ? std::vector<std::string>{"headset", "plug", "headphones"}
                                       : std::vector<std::string>{"headset", "plug"});
        }
    });
    temperature_ = new QSpinBox(this);
    temperature_->setRange(kMinTemperature, kMaxTemperature);
    temperature_->setSuffix(tr(" °C"));
    temperature_->setKeyboardTracking(false); // a typed number counts once it is complete
    connect(temperature_, qOverload<int>(&QSpinBox::valueChanged), this, [this](int degrees) {
        send({"temp", std::to_string(degrees * kMilliPerDegree)});
    });
    auto* label = new QLabel(tr("core"), this);
    temperature_->setToolTip(tr("The Pi's core temperature"));
    return row(this, {headset_, label, temperature_});
}

QWidget* BoardEventsBox::faultRow() {
    cameraSilent_ = unfocused(new QCheckBox(tr("camera silent"), this));
    connect(cameraSilent_, &QCheckBox::clicked, this, [this](bool silent) {
        send(silent ? std::vector<std::string>{"camera", "fault", "silence", "0"}
                    : std::vector<std::string>{"camera", "fault", "none"});
    });
    chip_ = narrowCombo(this);
    chip_->setToolTip(tr("A chip on the I2C bus: failing, it answers no transfer"));
    chipFails_ = unfocused(new QCheckBox(tr("fails"), this));
    connect(chipFails_, &QCheckBox::clicked, this, [this](bool failing) { sendChipFault(failing); });
    connect(chip_, qOverload<int>(&QComboBox::activated), this, [this] { chipFails_->setChecked(false); });
    return row(this, {cameraSilent_, chip_, chipFails_});
}

void BoardEventsBox::sendHdmi(int input) {
    const QString mode = hdmi_[input]->currentText();
    std::vector<std::string> args = {"hdmi", kSides[input], text(mode)};
    if (mode != kOff && hdmi3d_[input]->isChecked()) {
        args.push_back("3d");
    }
    send(std::move(args));
}

void BoardEventsBox::sendStick(bool inserted) {
    if (!inserted) {
        send({"usb", "remove"});
        return;
    }
    const QString folder = QDir(stickFolder_->text()).absolutePath();
    QDir().mkpath(folder);
    send({"usb", "insert", text(folder)});
}

// The chip's entry holds its bus and address ("front-panel  7 0x20").
void BoardEventsBox::sendChipFault(bool failing) {
    const QStringList place = chip_->currentData().toStringList();
    if (place.size() != 2) {
        return;
    }
    if (failing) {
        send({"i2c", "fail", text(place[0]), text(place[1]), "nack", "all", "always"});
    } else {
        send({"i2c", "clear", text(place[0]), text(place[1])});
    }
}

void BoardEventsBox::showHdmi(int input, const QString& source) {
    QString mode = source;
    const bool is3d = mode.endsWith(k3dSuffix);
    mode.chop(is3d ? int(strlen(k3dSuffix)) : 0);
    if (hdmi_[input]->findText(mode) < 0) {
        hdmi_[input]->addItem(mode);
    }
    hdmi_[input]->setCurrentText(mode);
    hdmi3d_[input]->setChecked(is3d);
}

void BoardEventsBox::showChips(const QJsonObject& i2c) {
    if (chip_->count() == 0) {
        for (const QJsonValue& device : i2c.value(QStringLiteral("devices")).toArray()) {
            const QJsonObject d = device.toObject();
            const QString bus = QString::number(d.value(QStringLiteral("bus")).toInt());
            const QJsonArray addresses = d.value(QStringLiteral("addresses")).toArray();
            if (d.value(QStringLiteral("bus")).toInt() < 0 || addresses.isEmpty()) {
                continue; // the bus switch itself
            }
            const QString address = addresses.first().toString();
            chip_->addItem(
                QStringLiteral("%1 (%2, %3)").arg(d.value(QStringLiteral("name")).toString(), bus, address),
                QStringList{bus, address});
        }
    }
    const QStringList place = chip_->currentData().toStringList();
    bool failing = false;
    for (const QJsonValue& fault : i2c.value(QStringLiteral("faults")).toArray()) {
        const QJsonObject f = fault.toObject();
        failing = failing || (place.size() == 2 && f.value(QStringLiteral("bus")).toString() == place[0] &&
                              f.value(QStringLiteral("address")).toString() == place[1]);
    }
    chipFails_->setChecked(failing);
}

void BoardEventsBox::showStatus(const QJsonObject& status) {
    const QJsonObject camera = status.value(QStringLiteral("camera")).toObject();
    camera_->setChecked(camera.value(QStringLiteral("plugged")).toBool());
    cameraSilent_->setChecked(camera.value(QStringLiteral("fault")).toString() == QStringLiteral("silence"));
    QStringList plugged;
    for (const QJsonValue& device :
         status.value(QStringLiteral("usb_input")).toObject().value(QStringLiteral("plugged")).toArray()) {
        plugged << device.toObject().value(QStringLiteral("name")).toString();
    }
    keypad_->setChecked(plugged.contains(QStringLiteral("keypad")));
    mouse_->setChecked(plugged.contains(QStringLiteral("mouse")));
    for (int input = 0; input < kHdmiInputs; ++input) {
        showHdmi(input,
                 status.value(kHdmiStatus[input]).toObject().value(QStringLiteral("source")).toString());
    }
    const QJsonValue stick =
        status.value(QStringLiteral("usb_sticks")).toObject().value(QStringLiteral("slot1"));
    stick_->setChecked(stick.isString());
    if (stick.isString() && !stickFolder_->hasFocus()) {
        stickFolder_->setText(stick.toString());
    }
    const bool headset =
        status.value(QStringLiteral("audio")).toObject().value(QStringLiteral("headset_plugged")).toBool();
    if (headset != (headset_->currentIndex() != kNoHeadset)) {
        headset_->setCurrentIndex(headset ? kHeadsetWithMicrophone : kNoHeadset);
    }
    if (!temperature_->hasFocus()) {
        const QSignalBlocker still(temperature_);
        temperature_->setValue(status.value(QStringLiteral("temperature_mC")).toInt() / kMilliPerDegree);
    }
    showChips(status.value(QStringLiteral("i2c")).toObject());
}

} // namespace scope
