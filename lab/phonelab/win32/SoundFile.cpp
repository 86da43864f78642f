#include "SoundFile.h"

#include "FileTail.h"

#include "../SoundText.h"

#include <windows.h>

void SoundFile::Init() {
    char path[MAX_PATH] = "";
    const DWORD len = GetEnvironmentVariableA("KESTREL_ALSA_OUT", path, sizeof path);
    m_path = len == 0 || len >= sizeof path ? "" : WinePath(path);
    m_mark = Size();
}

size_t SoundFile::Size() const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (m_path.empty() || !GetFileAttributesExA(m_path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<size_t>(
        data.nFileSizeLow); // a prompt is kilobytes; runs stay far below 4 GB
}

const std::string& SoundFile::Read() const {
    ReadAppended(m_path, &m_cache);
    return m_cache;
}

size_t SoundFile::SoundingSinceMark(size_t end) const {
    const std::string& all = Read();
    if (end > all.size()) end = all.size();
    if (end <= m_mark) return 0;
    return CountSounding(all.data() + m_mark, end - m_mark);
}

std::string SoundFile::SinceMark() const {
    const std::string& all = Read();
    return all.size() > m_mark ? all.substr(m_mark) : std::string();
}
