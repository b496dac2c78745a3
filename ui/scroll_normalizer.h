#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/scroll_normalizer.h is internal to ui/"
#endif
// Turns one scroll event into a bounded zoom step, so a trackpad's stream of small pixel
// deltas and a mouse wheel's notches zoom at comparable speeds and no single event (a
// fast flick, a free-spinning wheel) jumps the camera.
#include <optional>

class QWheelEvent;

namespace lumbrix {

struct ScrollNormalizer {
    // What the normalizer needs of a scroll event.
    struct Input {
        float deltaY = 0.0f;            // pixels when precise, wheel notches otherwise
        bool hasPreciseDeltas = false;  // trackpads and smooth-scrolling devices
        bool isMomentum = false;        // the inertial tail after the fingers lifted
    };

    float preciseDivisor = 12.0f;
    float coarseDivisor = 1.0f;
    float maxStepPerEvent = 3.0f;
    // The inertial tail keeps zooming long after the user stopped, which overshoots.
    bool ignoreMomentum = true;

    // Pixel deltas when the device reports them, else angle deltas in notches of 120.
    static Input inputFrom(const QWheelEvent& event);

    // The zoom step for one event; none when it should change nothing.
    std::optional<float> step(const Input& input) const;
    std::optional<float> step(const QWheelEvent& event) const { return step(inputFrom(event)); }
};

}  // namespace lumbrix
