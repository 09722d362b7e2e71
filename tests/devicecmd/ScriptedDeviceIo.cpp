#include "ScriptedDeviceIo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace devicecmd_test {

Bytes Hex(std::string_view text) {
    Bytes bytes;
    std::istringstream in{std::string(text)};
    std::string token;
    while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return bytes;
}

Bytes Le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes Le16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

Bytes Fill(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

Bytes Pattern(std::size_t count, std::uint8_t seed) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return bytes;
}

std::string ToHex(const Bytes& bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += ' ';
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 0x0F];
    }
    return text;
}

Bytes LeN(std::uint64_t value, std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

std::uint32_t ReadLe32(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) | (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8) |
           (static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16) |
           (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
}

ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::InSize(std::uint32_t size) {
    inSize_ = size;
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::OutSize(std::uint32_t size) {
    outSize_ = size;
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::Expect(std::size_t offset, Bytes bytes) {
    expected_.emplace_back(offset, std::move(bytes));
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::Reply(std::size_t offset, Bytes bytes) {
    reply_.emplace_back(offset, std::move(bytes));
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::ReplyToDataBuffer(Bytes bytes) {
    toDataBuffer_ = std::move(bytes);
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::ExpectDataBuffer(Bytes bytes) {
    inDataBuffer_ = std::move(bytes);
    return *this;
}
ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::Fail(std::uint32_t error) {
    succeed_ = false;
    error_ = error;
    return *this;
}

ScriptedDeviceIo::Step& ScriptedDeviceIo::Step::Returned(std::uint32_t count) {
    returned_ = count;
    return *this;
}

ScriptedDeviceIo::~ScriptedDeviceIo() {
    EXPECT_EQ(Pending(), 0u) << "scripted calls that never came";
}

ScriptedDeviceIo::Step& ScriptedDeviceIo::On(std::uint32_t code) {
    steps_.emplace_back();
    steps_.back().code_ = code;
    return steps_.back();
}

platform::Handle ScriptedDeviceIo::Open(std::wstring_view, std::uint32_t, std::uint32_t, std::uint32_t,
                                        std::uint32_t) {
    ADD_FAILURE() << "unexpected Open";
    return platform::InvalidHandle();
}

bool ScriptedDeviceIo::Close(platform::Handle) {
    ADD_FAILURE() << "unexpected Close";
    return false;
}

bool ScriptedDeviceIo::Read(platform::Handle, void*, std::uint32_t, std::uint32_t*) {
    ADD_FAILURE() << "unexpected Read";
    return false;
}

std::uint32_t ScriptedDeviceIo::Seek(platform::Handle, std::int32_t, std::uint32_t) {
    ADD_FAILURE() << "unexpected Seek";
    return 0xFFFFFFFF;
}

bool ScriptedDeviceIo::IoControl(platform::Handle handle, std::uint32_t code, const void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize,
                                 std::uint32_t* bytesReturned) {
    Call call;
    call.code = code;
    call.outSize = outSize;
    if (in != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        call.request.assign(bytes, bytes + inSize);
    }
    calls_.push_back(call);
    const std::size_t index = calls_.size() - 1;

    if (next_ >= steps_.size()) {
        ADD_FAILURE() << "unexpected IoControl #" << index << " with code 0x" << std::hex << code;
        return false;
    }
    const Step& step = steps_[next_++];
    SCOPED_TRACE(testing::Message() << "IoControl #" << index);
    EXPECT_EQ(handle, expectedHandle_);
    EXPECT_EQ(code, step.code_) << std::hex << "code 0x" << code << " instead of 0x" << step.code_;
    if (step.inSize_ >= 0) {
        EXPECT_EQ(inSize, step.inSize_) << "input size";
    }
    if (step.outSize_ >= 0) {
        EXPECT_EQ(outSize, step.outSize_) << "output size";
    }
    for (const auto& [offset, expected] : step.expected_) {
        if (offset + expected.size() > call.request.size()) {
            ADD_FAILURE() << "request of " << call.request.size() << " bytes has no bytes " << offset << ".."
                          << offset + expected.size() - 1;
            continue;
        }
        const Bytes actual(call.request.begin() + static_cast<std::ptrdiff_t>(offset),
                           call.request.begin() + static_cast<std::ptrdiff_t>(offset + expected.size()));
        EXPECT_EQ(ToHex(actual), ToHex(expected)) << "request bytes at offset " << offset;
    }

    if (!step.inDataBuffer_.empty() || !step.toDataBuffer_.empty()) {
        if (call.request.size() < BufferAddressAt + sizeof(void*)) {
            ADD_FAILURE() << "request too short to carry a buffer address";
        } else {
            std::uintptr_t address = 0;
            for (std::size_t i = 0; i < sizeof(void*); ++i) {
                address |= std::uintptr_t{call.request[BufferAddressAt + i]} << (8 * i);
            }
            auto* buffer = reinterpret_cast<std::uint8_t*>(address);
            if (!step.inDataBuffer_.empty()) {
                EXPECT_EQ(ToHex(Bytes(buffer, buffer + step.inDataBuffer_.size())), ToHex(step.inDataBuffer_))
                    << "data in the caller's buffer";
            }
            if (!step.toDataBuffer_.empty()) {
                std::memcpy(buffer, step.toDataBuffer_.data(), step.toDataBuffer_.size());
            }
        }
    }
    for (const auto& [offset, bytes] : step.reply_) {
        if (out == nullptr || offset + bytes.size() > outSize) {
            ADD_FAILURE() << "reply bytes at " << offset << " do not fit the output of " << outSize << " bytes";
            continue;
        }
        std::memcpy(static_cast<std::uint8_t*>(out) + offset, bytes.data(), bytes.size());
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = step.succeed_ ? (step.returned_ >= 0 ? static_cast<std::uint32_t>(step.returned_) : outSize) : 0;
    }
    if (!step.succeed_) lastError_ = step.error_;
    return step.succeed_;
}

}  // namespace devicecmd_test
