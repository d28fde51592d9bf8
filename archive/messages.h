// What the archive tells the player, in code page 932 (the comment shows the
// text). Formats take their arguments as noted.
#pragma once

#include <cinttypes>

constexpr char kMsgMemberNotFound[] = "Can't Find File in Resource !!";
constexpr char kMsgNoMemory[] = "Can't Allocate Memory !!";
// ディスク容量が足りません。%s ドライブに %i バイトの空き容量が必要です
// (drive, shortfall). The shortfall is printed in full as a 64-bit number.
constexpr char kMsgNoDiskSpaceFormat[] =
    "\x83" "f\x83" "B\x83X\x83N\x97" "e\x97\xCA\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B"
    "%s"
    " \x83h\x83\x89\x83" "C\x83u\x82\xC9 "
    "%" PRIu64
    " \x83o\x83" "C\x83g\x82\xCC\x8B\xF3\x82\xAB\x97" "e\x97\xCA\x82\xAA\x95K\x97v\x82\xC5\x82\xB7";
