// The raw sound output that scripts/run-scenario gives ALSA (KESTREL_ALSA_OUT): every stream
// Kestrel plays is appended to it, so the file only grows and a byte offset marks a moment.
#pragma once
#include <cstddef>
#include <string>

class SoundFile {
  public:
    // Takes the path from KESTREL_ALSA_OUT (a Unix path is read through Wine's Z: drive).
    // Without it every sound step fails with a hint instead of passing vacuously.
    void Init();
    bool Configured() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    // The file's size now (0 while it does not exist); cheap enough for a message handler.
    size_t Size() const;
    void Mark() { m_mark = Size(); }
    size_t MarkOffset() const { return m_mark; }
    // Sounding bytes between the mark and byte offset `end` of the file.
    size_t SoundingSinceMark(size_t end) const;
    // The bytes from the mark to the end of the file.
    std::string SinceMark() const;

  private:
    const std::string& Read() const;

    std::string m_path;
    mutable std::string m_cache;
    size_t m_mark = 0;
};
