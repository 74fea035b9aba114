/* noreplace_preload.so: a 32-bit LD_PRELOAD library for Wine's 32-bit
 * programs run under qemu-user (the Wine run of the shipped 32-bit applet,
 * tools/wine-applet-test.sh). qemu 7.2 takes mmap's MAP_FIXED_NOREPLACE as
 * a mere hint and hands back a mapping elsewhere; Wine, whose Debian build
 * has no preloader, then believes each address reservation failed in a
 * different way and retries it thousands of times, a minute of processor
 * time for every process it starts. Here the flag keeps its promise: the
 * mapping is made without it, and one the kernel placed anywhere but at the
 * address asked for is unmapped again and fails with EEXIST, as the flag
 * says it would. Everything else goes to libc's mmap unchanged.
 *
 * Built with "gcc -m32 -shared -nostdlib" against the 32-bit libc alone,
 * so it needs no 32-bit development files: the few declarations it uses
 * are its own. */
typedef unsigned int size_t;
typedef long off_t;
typedef long long off64_t;

void *dlsym(void *handle, const char *name);
int *__errno_location(void);
int munmap(void *address, size_t length);

#define RTLD_NEXT ((void *)-1l)
#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void *)-1)
#define EEXIST 17

typedef void *(*mmap64_routine)(void *, size_t, int, int, int, off64_t);

void *mmap64(void *address, size_t length, int protection, int flags, int file, off64_t offset) {
  static mmap64_routine next;
  if (!next) next = (mmap64_routine)dlsym(RTLD_NEXT, "mmap64");
  if (!(flags & MAP_FIXED_NOREPLACE)) return next(address, length, protection, flags, file, offset);
  void *placed = next(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, file, offset);
  if (placed != MAP_FAILED && placed != address) {
    munmap(placed, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  return placed;
}

void *mmap(void *address, size_t length, int protection, int flags, int file, off_t offset) {
  return mmap64(address, length, protection, flags, file, offset);
}
