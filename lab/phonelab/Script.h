// The scenario language of phonelab: one step per line, parsed before anything runs so that a
// typo is reported with its line instead of half-way through a run. Portable; the Win32 runner
// executes the parsed steps.
//
// Steps ("<N>s" or "<N>ms" for durations; texts in double quotes with \n \t \" \\):
//   # comment (whole lines only: '#' is also a telephone key)
//   product <id>                  env <NAME> <value|"value">   remove <file>
//       (environment for Kestrel.exe started afterwards; remove deletes a file of the
//       current directory, e.g. VaVoRar.dll)
//   write <file> "<text>"         copy <from> <to>
//       (files of the current directory or below it, e.g. wavefilesetup.ini or wav\hi.wav;
//       missing folders are made; written as given, so "\n" is a bare line feed)
//   attach <status> [<status> ...]   answers to successive discoveries; the last repeats
//   skype attach <status>            an attach message now, to the last discovering client
//   deny <n>                         answer the next n commands with 0
//   start kestrel [as <name>]        Kestrel.exe of the current directory
//   start kestrel [as <name>] from shortcut "<file.lnk>"   as Explorer starts the shortcut
//                                    (environment strings like %APPDATA% expanded)
//   expect discovery within <d>      expect ready within <d>
//       (ready: attached with status 0, then a status poll since then and since the log mark)
//   skype ring <id> from <user>|"<user>" [name "<display name>"] [reply after <d>|never|
//                    error "<text>"]
//                                    the call rings; asked "GET CALL <id> PARTNER_HANDLE" or
//                                    "... PARTNER_DISPNAME", the stand-in answers with the user
//                                    and the name ("" without one): at once, after d, never,
//                                    or with that text instead
//   skype status <id> <STATUS>       skype send "<text>"
//   skype auto on|off                automatic replies to CALL / SET CALL commands
//   skype hang <d>                   the stand-in takes no message for d (a hung client);
//                                    the scenario goes on meanwhile
//   skype next call <id>             the next call placed from the telephone gets this id,
//                                    the ones after it the ids that follow (from 101 at first)
//   expect skype "<text>" within <d> expect no skype within <d>
//   expect skype "<text>" after sound within <d>   (sound behind the mark had been played
//                                                   when the command arrived)
//   phone offhook|onhook             phone dtmf <key>               phone dial <keys>
//   expect phone ringing|silent within <d>     (becomes so)
//   expect phone ringing|silent for <d>        (stays so throughout)
//   expect phone linefeed [not] open|active|onhook-transmission|ringing within|for <d>
//                                    the line chip's line feed (register 64) becomes / stays so
//   pstn ring on|off                 pstn line busy|idle            unplug      plug
//   lab "<command>"                  expect lab "<command>" = <value> within <d>
//                                    expect lab "<command>" = <value> for <d>  (stays so)
//                                    (!= instead of =: any other value; >=: that or more)
//   log mark                         (log expectations look only behind the mark)
//   sound mark                       (sound expectations look only behind the mark)
//   expect sound within <d>          expect no sound for <d>
//       (sound: the raw output file KESTREL_ALSA_OUT grows by non-silent samples)
//   play callerid bell202|etsi|dtmf [from <user>|"<user>" [name "<display name>"]]
//                                    phonelab itself plays the caller ID that Kestrel's
//                                    generator makes for that partner (no from: Skype never
//                                    said) through the wave device, 8 kHz 16-bit mono
//   expect callerid fsk <field> <field> within <d> [during onhook-transmission]
//   expect callerid dtmf "<digits>" within <d> [during onhook-transmission]
//       waits for sound behind the mark and for it to end, saves it to callerid-<line>.raw;
//       scripts/run-scenario decodes it after the run with multimon-ng and fails the run
//       unless it names the caller: the number and name fields ("<text>", private or
//       unavailable), or the DTMF digits as heard ("A4930123456C"). during: the sound must
//       lie inside the latest stretch of on-hook transmission, which must end within d too
//       (the lab adapter stamps the capture file's size on every line-feed change)
//   expect log "<text>" within <d>   expect no log "<text>" [for <d>]
//   expect log order "<a>" "<b>" ... [within <d>]      expect no log from <name>
//   expect messagebox "<text>" within <d>              dismiss messagebox
//   <name> key escape|enter          <name> close                   <name> tray left|right
//   expect <name> exit <code>|any within <d>           expect <name> running
//   expect windows "<title>" <count> wait <d>          transcript on|off
//   say "<text>"                     (prints the text instead of the step: a demo's narration)
//   explorer restart                 what a program sees of Explorer restarting: the
//                                    notification area loses the icons of the Kestrel
//                                    processes, then "TaskbarCreated" goes to every
//                                    top-level window (win32/TrayShell.h says why it is staged)
//   expect tray icons <n> within <d> (the notification area shows n icons)
//   tray click left|right            a press on the notification area's first icon
// <name> is "kestrel" or a name given with "start kestrel as".
//   gui ...                          looking at and working Kestrel's dialogs (GuiScript.h)
//   sample <name> every <d>          reads the process's private bytes, handles, GDI and USER
//                                    objects and threads now and every d while steps wait;
//                                    writes them to samples.csv of the current directory
//                                    (while it samples that process already: goes on, so
//                                    that a step inside a repeat starts the series once)
//   expect samples flat allowing <figure> <n> ...
//                                    a last sample, which ends the series; fails if a figure
//                                    ended more than n above its first sample (figures:
//                                    private (n in KB or MB, e.g. 512KB), handles, gdi, user,
//                                    threads); the figures go to samples.txt. A figure the
//                                    system does not report is said so and not checked.
// Whole scripts (ParseScript) also have:
//   set <name> <integer>             a variable, unless given from outside (ParseScript's
//                                    presets, phonelab --set name=value)
//   repeat <count> [as <name>]       the lines up to the matching "end" count times; <name>
//   end                              counts the passes from 1. Blocks nest.
//   ${name} in any line              the variable's value (before the line is read)
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

enum class StepKind {
    Env,              // text = name, text2 = value (product <id> is Env KESTREL_LAB_PRODUCT)
    Remove,           // text = file name
    FileWrite,        // text = file name, text2 = content
    FileCopy,         // text = from, text2 = to
    Attach,           // numbers = statuses for successive discoveries
    SkypeAttach,      // number = status, sent at once to the last client that discovered
    Deny,             // number = how many commands to answer with 0
    Start,            // text = instance name, text2 = shortcut (or empty)
    ExpectDiscovery,  // ms
    ExpectReady,      // ms
    SkypeSend,        // text = raw notification; a ring also has texts = call id, user
                      // [, display name], number = PartnerReply, ms = its delay, text2 = the
                      // error text
    SkypeAuto,        // flag
    SkypeHang,        // ms
    SkypeNextCall,    // number = id of the next outgoing call
    ExpectSkype,      // text, ms, flag = sound must have been played before it
    ExpectNoSkype,    // ms
    Lab,              // text = control command
    PhoneDial,        // text = digits
    ExpectLab,        // text = control command, number = value, ms, stay = must hold for ms,
                      // flag = any value but number, text2 ">=" = number or more
    ExpectPhone,      // flag = ringing (else silent), stay = must hold for ms
    ExpectLog,        // text, ms, flag = absent (expect no log)
    ExpectLogOrder,   // texts, ms
    ExpectNoLogFrom,  // text = instance name
    LogMark,          // later log expectations look only behind this point
    SoundMark,        // later sound expectations look only behind this point
    ExpectSound,      // ms, flag = absent (expect no sound for ms)
    ExpectMessageBox, // text, ms
    DismissMessageBox,
    KestrelKey,    // text = instance, number = virtual key
    KestrelClose,  // text = instance
    KestrelTray,   // text = instance, number = mouse message
    ExpectExit,    // text = instance, number = code, flag = any code, ms
    ExpectRunning, // text = instance
    ExpectWindows, // text = title, number = count
    Wait,          // ms
    Transcript,    // flag
    Say,           // text
    ExplorerRestart,
    ExpectTrayIcons, // number = icons, ms
    TrayClick,       // number = mouse message (button down)
    Gui,             // gui
    SampleStart,     // text = instance, ms = interval
    ExpectFlat,      // numbers = allowance per SampleFigure (-1: not checked)
    PlayCallerId,    // text = standard name, texts = [user [, display name]] (none: unknown)
    ExpectCallerId,  // text = "fsk" (texts = number, name) or "dtmf" (texts = digits), ms,
                     // flag = the sound inside the latest on-hook transmission
};

// How the Skype stand-in answers the questions about a ringing call's partner.
enum class PartnerReply { Now, After, Never, Error };

struct GuiStep;

struct Step {
    StepKind kind = StepKind::Wait;
    std::string source; // the line as written, for reports
    int line = 0;
    std::string text;
    std::string text2;
    std::vector<std::string> texts;
    std::vector<long> numbers;
    long number = 0;
    unsigned ms = 0;
    bool flag = false;
    bool stay = false;
    std::shared_ptr<const GuiStep> gui;
};

// Splits a line into words and double-quoted strings. Inside quotes \n is a line break,
// \t a tab, \" a quote and \\ a backslash. Returns false (with *error) on an unterminated
// quote or an unknown escape. A line whose first character (after blanks) is '#' is a comment.
struct Token {
    std::string text;
    bool quoted = false;
};
bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error);

// "8s", "500ms", "1.5s" -> milliseconds; false for anything else (or above a day).
bool ParseDuration(const std::string& text, unsigned* ms);

// Decimal or 0x-hex integer, optionally negative; false for anything else.
bool ParseInteger(const std::string& text, long* value);

// Parses scripts line by line and remembers the Kestrel instance names that "start ... as"
// has introduced, so later lines may refer to them.
class ScriptParser {
  public:
    ScriptParser();
    // Parses one line. Returns false with *error for a malformed line; sets *empty for blank
    // and comment lines (no step then).
    bool ParseLine(const std::string& line, int lineNo, Step* step, bool* empty,
                   std::string* error);
    bool KnowsInstance(const std::string& name) const { return m_names.count(name) != 0; }

  private:
    std::set<std::string> m_names;
};

// Parses a whole script; on the first error returns false with "<line>: <message>".
bool ParseScript(const std::string& content, std::vector<Step>* steps, std::string* error);
// The same with variables given from outside; they win over the script's own "set" lines.
bool ParseScript(const std::string& content, const std::map<std::string, long>& presets,
                 std::vector<Step>* steps, std::string* error);
// "name=value" (a phonelab --set argument); false unless name is a variable name and value an
// integer.
bool ParsePreset(const std::string& text, std::string* name, long* value);
