#pragma once
// What the renderer and the view model need from a picture source (NDI stream, video
// file, still image), so the three can be swapped without either side knowing which
// one is active. Timeline operations have neutral answers in sources without one.
//
// Every call runs on the GUI thread, with the view's OpenGL context current for
// `texture`.
#include <optional>

namespace lumbrix {

class SourceSound;

class TextureSource {
public:
    virtual ~TextureSource() = default;

    // Releases everything the source runs (decoders, audio, receivers). Called once,
    // on the outgoing source, before its replacement is published.
    virtual void stop() = 0;
    virtual void setPlaying(bool playing) = 0;
    // Whether a timeline source restarts at its end.
    virtual void setLooping(bool looping) = 0;

    // The GL texture name to sample this frame, owned by the source; 0 while there is
    // nothing to show yet. Rows are stored top row first: the renderer samples at the
    // stored (u, 1 - v) of the file's coordinates, so the picture comes out upright.
    virtual unsigned int texture() = 0;

    // Length of and position on the timeline; empty for sources without one.
    virtual std::optional<double> durationSeconds() const = 0;
    virtual std::optional<double> currentSeconds() const = 0;
    virtual bool isSeekable() const = 0;
    // Ignored by sources without a timeline.
    virtual void seek(double seconds) = 0;

    // Opens what the source plays, once looping and playing are set; sources that are
    // ready when made need nothing more.
    virtual void prepare() {}
    // The sound a recording takes from this source; empty for sources without one.
    // Owned by the source and valid while it lives.
    virtual SourceSound* sound() { return nullptr; }

protected:
    TextureSource() = default;
    TextureSource(const TextureSource&) = default;
    TextureSource& operator=(const TextureSource&) = default;
};

}  // namespace lumbrix
