#ifndef ZEFACUT_CUTTER_CUT_H
#define ZEFACUT_CUTTER_CUT_H

// Reads a run of sectors of the selected disk from (track, c, h, r, n) into
// the cut buffer and writes run bytes [offset, offset + length) to the file
// `name` in the current directory. True when a file was written.
bool CutFile(const char* name, int track, int c, int h, int r, int n, int offset, int length);

// How many output files could not be written in this run.
int CutWriteFailures();

#endif  // ZEFACUT_CUTTER_CUT_H
