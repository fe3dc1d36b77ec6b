// The few calls whose standard-library form behaves differently on Windows.
#ifndef ZEFACUT_PLATFORM_PORTABLE_H
#define ZEFACUT_PLATFORM_PORTABLE_H

// Puts standard output and standard error in binary mode, so that the
// programs' messages leave as the exact bytes written ("\n" stays a single
// line feed on Windows too). Nothing to do elsewhere.
void UseBinaryStandardStreams();

// Gives the file `from` the name `to`, replacing a file of that name if there
// is one, in one step where the system allows it. 0 on success; otherwise -1
// with errno set.
int RenameReplacing(const char* from, const char* to);

#endif  // ZEFACUT_PLATFORM_PORTABLE_H
