// The real board's SPI, I2C and input-device calls: how their ioctl arguments are packed,
// and how they fail on a machine without the devices.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/linux/FileDescriptor.h"
#include "platform/linux/I2cBus.h"
#include "platform/linux/InputDevice.h"
#include "platform/linux/LinuxBackend.h"
#include "platform/linux/SpiDevice.h"
#include "tests/support/TempRoot.h"

namespace {

namespace smbus = platform::smbus;

TEST(SmbusPacking, WordWriteKeepsTheValueInHostOrderSoItsLowByteGoesFirst) {
    const smbus::Transfer t = smbus::writeReg16(0x12, 0xABCD);
    EXPECT_EQ(t.readWrite, I2C_SMBUS_WRITE);
    EXPECT_EQ(t.command, 0x12);
    EXPECT_EQ(t.size, static_cast<uint32_t>(I2C_SMBUS_WORD_DATA));
    EXPECT_EQ(t.data.word & 0xFF, 0xCD); // first on the wire
    EXPECT_EQ(t.data.word >> 8, 0xAB);
    EXPECT_EQ(smbus::writeReg16(0x12, 0x1ABCD).data.word, 0xABCD);
}

TEST(SmbusPacking, EachCallUsesTheTransactionOfItsWidth) {
    struct Case {
        smbus::Transfer t;
        uint8_t readWrite;
        uint8_t command; // registers and byte values cut to 8 bits
        int size;
    };
    for (const Case& c : {Case{smbus::readByte(), I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE},
                          // A plain byte write has no register: the byte travels as the command.
                          Case{smbus::writeByte(0x1C3), I2C_SMBUS_WRITE, 0xC3, I2C_SMBUS_BYTE},
                          Case{smbus::readReg8(0x141), I2C_SMBUS_READ, 0x41, I2C_SMBUS_BYTE_DATA},
                          Case{smbus::writeReg8(0x1F0, 0x1AB), I2C_SMBUS_WRITE, 0xF0, I2C_SMBUS_BYTE_DATA},
                          Case{smbus::readReg16(0x42), I2C_SMBUS_READ, 0x42, I2C_SMBUS_WORD_DATA}}) {
        EXPECT_EQ(c.t.readWrite, c.readWrite);
        EXPECT_EQ(c.t.command, c.command);
        EXPECT_EQ(c.t.size, static_cast<uint32_t>(c.size));
    }
    EXPECT_EQ(smbus::writeReg8(0x1F0, 0x1AB).data.byte, 0xAB);
}

TEST(SmbusPacking, BlockReadAsksForItsCountWithSizeEight) {
    const smbus::Transfer t = smbus::readBlock(0x7E, 32);
    EXPECT_EQ(t.readWrite, I2C_SMBUS_READ);
    EXPECT_EQ(t.command, 0x7E);
    EXPECT_EQ(t.size, 8u);
    EXPECT_EQ(t.data.block[0], 32);
    EXPECT_EQ(smbus::readBlock(0x7E, 6).data.block[0], 6);
}

TEST(SmbusPacking, BlockReplyIsCopiedWithinTheRequestedLength) {
    i2c_smbus_data reply{};
    for (int i = 1; i <= smbus::kBlockMax + 1; ++i) {
        reply.block[i] = static_cast<uint8_t>(i);
    }
    std::array<uint8_t, 40> out{};
    out.fill(0xEE);

    reply.block[0] = 6; // the device returned fewer bytes than asked for
    EXPECT_EQ(smbus::copyBlock(reply, 32, out.data()), 6);
    EXPECT_EQ(out[5], 6);
    EXPECT_EQ(out[6], 0xEE);

    out.fill(0xEE);
    reply.block[0] = 33; // a count beyond what was asked for never overruns the buffer
    EXPECT_EQ(smbus::copyBlock(reply, 32, out.data()), 32);
    EXPECT_EQ(out[31], 32);
    EXPECT_EQ(out[32], 0xEE);
}

TEST(SpiPacking, OneFullDuplexTransferInPlace) {
    std::array<unsigned char, 961> burst{};
    const spi_ioc_transfer t = platform::spi::fullDuplexTransfer(burst.data(), burst.size(), 32000000);
    const auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(burst.data()));
    EXPECT_EQ(t.tx_buf, address);
    EXPECT_EQ(t.rx_buf, address);
    EXPECT_EQ(t.len, 961u);
    EXPECT_EQ(t.speed_hz, 32000000u);
    EXPECT_EQ(t.bits_per_word, 8);
    EXPECT_EQ(t.delay_usecs + t.cs_change + t.tx_nbits + t.rx_nbits + t.word_delay_usecs, 0);
}

TEST(InputPacking, EventBitsRequestCarriesTheLengthOrIsRefused) {
    const std::optional<unsigned long> request = platform::input::eventBitsRequest(31);
    ASSERT_TRUE(request);
    EXPECT_EQ(_IOC_DIR(*request), static_cast<unsigned long>(_IOC_READ));
    EXPECT_EQ(_IOC_TYPE(*request), static_cast<unsigned long>('E'));
    EXPECT_EQ(_IOC_NR(*request), 0x20ul); // event type 0: the supported event types
    EXPECT_EQ(_IOC_SIZE(*request), 31ul);
    // A length that does not fit the size field would spill into the direction bits.
    EXPECT_FALSE(platform::input::eventBitsRequest(1 << _IOC_SIZEBITS));
    EXPECT_FALSE(platform::input::eventBitsRequest(-1));
}

// The backend pointed at files of a temporary folder: absent devices, or plain files
// that refuse every device ioctl.
class LinuxBackendErrors : public ::testing::Test {
protected:
    void SetUp() override {
        if (!deviceIoctlsReachTheKernel()) {
            GTEST_SKIP() << "the user-mode emulator answers device ioctls itself (ENOSYS)";
        }
        platform::LinuxDevicePaths paths;
        paths.spiPrefix = dir_.path() + "/spidev0.";
        paths.i2cBus = dir_.path() + "/i2c-1";
        pi_ = platform::makeLinuxBackend(paths);
    }
    // Under qemu-user (the cross builds' tests) an ioctl the emulator cannot translate, as
    // I2C_SLAVE, fails with ENOSYS before it reaches the kernel, which would say ENOTTY.
    bool deviceIoctlsReachTheKernel() {
        makePlainFile("probe");
        platform::FileDescriptor fd(::open((dir_.path() + "/probe").c_str(), O_RDWR | O_CLOEXEC));
        return ::ioctl(fd.get(), I2C_SLAVE, kProbeAddress) == 0 || errno != ENOSYS;
    }
    static constexpr unsigned long kProbeAddress = 0x70;
    void makePlainFile(const std::string& name) { testing_support::writeFile(dir_.path() + "/" + name, "x"); }
    static int openDescriptors() {
        return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
    }
    template <typename Call> void expectFailure(Call call, int expectedErrno) {
        errno = 0;
        EXPECT_EQ(call(), -1);
        EXPECT_EQ(errno, expectedErrno) << std::strerror(errno);
    }

    testing_support::TempDir dir_;
    std::unique_ptr<platform::Backend> pi_;
};

TEST_F(LinuxBackendErrors, I2cSetupReportsTheKernelsErrorAndKeepsNoDescriptor) {
    expectFailure([&] { return pi_->i2cSetup(0x70); }, ENOENT);

    makePlainFile("i2c-1");
    const int before = openDescriptors();
    expectFailure([&] { return pi_->i2cSetup(0x70); }, ENOTTY);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(LinuxBackendErrors, I2cTransfersOnANonBusDescriptorFail) {
    makePlainFile("i2c-1");
    platform::FileDescriptor fd(::open((dir_.path() + "/i2c-1").c_str(), O_RDWR));
    ASSERT_TRUE(fd.valid());
    uint8_t block[32];
    expectFailure([&] { return pi_->i2cRead(fd.get()); }, ENOTTY);
    expectFailure([&] { return pi_->i2cReadReg16(fd.get(), 1); }, ENOTTY);
    expectFailure([&] { return pi_->i2cWriteReg16(fd.get(), 1, 2); }, ENOTTY);
    expectFailure([&] { return pi_->i2cReadBlock(fd.get(), 0x7E, 32, block); }, ENOTTY);
    expectFailure([&] { return pi_->inputEventBits(fd.get(), block, 31); }, ENOTTY);
}

TEST_F(LinuxBackendErrors, BlockReadLengthsOutsideOneTransactionAreRefused) {
    uint8_t block[64];
    // Refused before the descriptor is used (it would give EBADF).
    expectFailure([&] { return pi_->i2cReadBlock(-1, 0, 0, block); }, EINVAL);
    expectFailure([&] { return pi_->i2cReadBlock(-1, 0, 33, block); }, EINVAL);
    expectFailure([&] { return pi_->i2cReadBlock(-1, 0, 32, block); }, EBADF);
}

TEST_F(LinuxBackendErrors, SpiSetupFailsCleanlyAndTransfersNeedASetup) {
    unsigned char data[4] = {1, 2, 3, 4};
    expectFailure([&] { return pi_->spiSetup(0, 1000000); }, ENOENT);
    expectFailure([&] { return pi_->spiDataRW(0, data, 4); }, EBADF);

    makePlainFile("spidev0.0");
    const int before = openDescriptors();
    expectFailure([&] { return pi_->spiSetup(0, 1000000); }, ENOTTY);
    EXPECT_EQ(openDescriptors(), before);
    expectFailure([&] { return pi_->spiDataRW(0, data, 4); }, EBADF);

    expectFailure([&] { return pi_->spiSetup(2, 1000000); }, EINVAL);
    expectFailure([&] { return pi_->spiSetup(0, 0); }, EINVAL);
    expectFailure([&] { return pi_->spiDataRW(2, data, 4); }, EINVAL);
    // Only a descriptor that spiSetup handed out can be closed.
    expectFailure([&] { return pi_->spiClose(STDIN_FILENO); }, EBADF);
}

} // namespace
