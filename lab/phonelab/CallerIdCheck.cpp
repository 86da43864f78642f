#include "CallerIdCheck.h"

std::string CallerIdSoundFile(const Step& step) {
    return "callerid-" + std::to_string(step.line) + ".raw";
}

std::string CallerIdCheckLine(const Step& step) {
    std::string line =
        std::to_string(step.line) + "\t" + CallerIdSoundFile(step) + "\t" + step.text;
    for (const std::string& t : step.texts)
        line += "\t" + t;
    return line + "\n";
}
