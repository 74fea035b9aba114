// dioctl.exe: the command-line tool of the DIO board (see dioctl_main.h).
#include "dioctl_main.h"

int main(int argc, char **argv) { return DioctlMain(argc, argv, stdout, stderr); }
