// The tool's fixed Japanese messages as the bytes it must write, written out
// apart from the tool: in Shift-JIS (the tool's own form, what files and pipes
// get) and in UTF-8. For the tests of the built programs and of the run in
// memory alike.
#ifndef ZEFACUT_TESTKIT_TOOL_MESSAGES_H
#define ZEFACUT_TESTKIT_TOOL_MESSAGES_H

#include <string>

#include "testkit/expected_cuts.h"

// "ファイルをオープンできません.\n"
inline const std::string kOpenFailedMessage =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";
inline const std::string kOpenFailedMessageUtf8 =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC\xE3\x83"
    "\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\x2E\x0A";
// "未対応の形式です.\n"
inline const std::string kUnsupportedMessage =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x8C\x60\x8E\xAE\x82\xC5\x82\xB7\x2E\x0A";
inline const std::string kUnsupportedMessageUtf8 =
    "\xE6\x9C\xAA\xE5\xAF\xBE\xE5\xBF\x9C\xE3\x81\xAE\xE5\xBD\xA2\xE5\xBC\x8F\xE3\x81\xA7\xE3\x81"
    "\x99\x2E\x0A";
// " を認識しました.\n", the end of every recognition message.
inline constexpr char kRecognizedEnding[] =
    " \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x2E\x0A";
inline constexpr char kRecognizedEndingUtf8[] =
    " \xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\x2E\x0A";
// "TITLE の DISK を認識しました.\n", by the index of kKnownSignatures.
inline const std::string kRecognitionMessages[8] = {
    std::string("ZEFA LOMRI \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 2 \x82\xCC User Disk") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC Disk A") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC Disk B") + kRecognizedEnding,
    std::string("ZEFA LOMRI 3 \x82\xCC User Disk") + kRecognizedEnding,
};
// The same in UTF-8, from the titles and disks of kKinds.
inline std::string RecognitionMessageUtf8(int index) {
  return std::string(kKinds[index].title) + " \xE3\x81\xAE " + kKinds[index].disk +
         kRecognizedEndingUtf8;
}

#endif  // ZEFACUT_TESTKIT_TOOL_MESSAGES_H
