#include "tests/fake_ndi/fake_senders.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

namespace lumbrix::fake_ndi {
namespace {

constexpr int kMaxSide = 16384;
constexpr double kMaxFps = 1000;
// Divisible by kPatternPhases, so the last phase leads seamlessly back to the first.
constexpr int kStripePeriod = 48;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool parseSide(std::string_view text, int& side) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), side);
    return error == std::errc{} && end == text.data() + text.size() && side > 0 && side <= kMaxSide;
}

bool parseFps(std::string_view text, double& fps) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fps);
    return error == std::errc{} && end == text.data() + text.size() && std::isfinite(fps) && fps > 0 &&
           fps <= kMaxFps;
}

bool parseSize(std::string_view size, SenderFormat& sender) {
    const auto x = size.find('x');
    return x != std::string_view::npos && parseSide(size.substr(0, x), sender.width) &&
           parseSide(size.substr(x + 1), sender.height);
}

bool parseTone(std::string_view text, double& hz) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hz);
    return error == std::errc{} && end == text.data() + text.size() && std::isfinite(hz) && hz >= 0 &&
           hz < kAudioRate / 2.0;
}

bool parseEntry(std::string_view entry, SenderFormat& sender) {
    // Up to four fields from the right; the name is whatever comes before the size.
    std::vector<std::string_view> fields;
    size_t end = entry.size();
    while (fields.size() < 3) {
        const auto at = end > 0 ? entry.rfind('@', end - 1) : std::string_view::npos;
        if (at == std::string_view::npos) {
            break;
        }
        fields.push_back(entry.substr(at + 1, end - at - 1));
        end = at;
    }
    if (fields.size() < 2) {
        return false;
    }
    size_t nameEnd = entry.size() - fields[0].size() - fields[1].size() - 2;
    if (!parseSize(fields[1], sender)) {
        // NAME@SIZE@FPS@HZ
        if (fields.size() < 3 || !parseSize(fields[2], sender) || !parseTone(fields[0], sender.toneHz) ||
            !parseFps(fields[1], sender.fps)) {
            return false;
        }
        nameEnd -= fields[2].size() + 1;
    } else if (!parseFps(fields[0], sender.fps)) {
        return false;
    }
    sender.name = std::string(entry.substr(0, nameEnd));
    sender.named = !sender.name.empty();
    return true;
}

}  // namespace

ParsedSenders parseSenders(std::string_view list) {
    ParsedSenders parsed;
    std::set<std::string, std::less<>> names;
    size_t position = 0;
    while (position <= list.size()) {
        const size_t end = std::min(list.find(';', position), list.size());
        const std::string_view entry = trimmed(list.substr(position, end - position));
        position = end + 1;
        if (entry.empty()) {
            continue;
        }
        SenderFormat sender;
        if (!parseEntry(entry, sender) || (sender.named && !names.insert(sender.name).second)) {
            ++parsed.ignored;
            continue;
        }
        parsed.senders.push_back(std::move(sender));
    }
    return parsed;
}

Clock::time_point frameSendTime(Clock::time_point start, double fps, int64_t frame) {
    const auto offset = std::llround(static_cast<double>(frame) * 1e9 / fps);
    return start + std::chrono::nanoseconds(offset);
}

int64_t newestFrameBy(Clock::time_point start, double fps, Clock::time_point now) {
    if (now < start) {
        return -1;
    }
    const auto elapsed = std::chrono::duration<double>(now - start).count();
    auto frame = static_cast<int64_t>(elapsed * fps);
    // The estimate can be off by one either way; frameSendTime is the rule that counts.
    while (frameSendTime(start, fps, frame + 1) <= now) {
        ++frame;
    }
    while (frame > 0 && frameSendTime(start, fps, frame) > now) {
        --frame;
    }
    return frame;
}

int64_t audioFrameStart(double fps, int64_t frame) {
    return std::llround(static_cast<double>(frame) * kAudioRate / fps);
}

void renderTone(float* planes, int channelStrideFloats, double toneHz, int64_t firstSample, int samples) {
    constexpr double kTwoPi = 6.283185307179586;
    for (int i = 0; i < samples; ++i) {
        // The phase from the sample number alone, so frames join without a click.
        const double cycles = std::fmod(toneHz * static_cast<double>(firstSample + i) / kAudioRate, 1.0);
        planes[i] = kToneAmplitude * static_cast<float>(std::sin(kTwoPi * cycles));
    }
    for (int c = 1; c < kAudioChannels; ++c) {
        std::memcpy(planes + static_cast<size_t>(c) * channelStrideFloats, planes, sizeof(float) * samples);
    }
}

uint32_t senderTint(std::string_view identity) {
    uint32_t hash = 2166136261u;
    for (const char c : identity) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    uint32_t tint = 0;
    for (int channel = 0; channel < 3; ++channel) {
        tint |= (64u + ((hash >> (8 * channel)) & 0xFFu) % 192u) << (8 * channel);
    }
    return tint;
}

void renderPattern(uint8_t* pixels, int width, int height, uint32_t tint, int phase) {
    const size_t stride = static_cast<size_t>(width) * 4;
    const int shift = phase * (kStripePeriod / kPatternPhases);
    const uint8_t bright[3] = {static_cast<uint8_t>(tint), static_cast<uint8_t>(tint >> 8),
                               static_cast<uint8_t>(tint >> 16)};
    // Stripes run along x + y, so rows repeat every period and the rest are copies.
    const int distinctRows = std::min(height, kStripePeriod);
    for (int y = 0; y < distinctRows; ++y) {
        uint8_t* pixel = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const bool lit = (x + y + shift) % kStripePeriod < kStripePeriod / 2;
            for (int c = 0; c < 3; ++c) {
                pixel[c] = lit ? bright[c] : static_cast<uint8_t>(bright[c] / 4);
            }
            pixel[3] = 255;
        }
    }
    for (int y = distinctRows; y < height; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * stride,
                    pixels + static_cast<size_t>(y % kStripePeriod) * stride, stride);
    }
}

}  // namespace lumbrix::fake_ndi
