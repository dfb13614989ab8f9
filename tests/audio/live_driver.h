// The live driver: plays through the real device (ALSA's "default", which the test scripts
// point at a sound server of their own) and reports on stdout what the audio thread did.
#pragma once

// args: the words after `--live`. Returns the process exit code.
int liveDriver(int argc, char** argv);
