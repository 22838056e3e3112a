// quillon-faulty-file: a failing disk for tests, as a FUSE file system holding one read-only
// file that serves the bytes of a backing image, except where it is told to fail:
//
//   --bad=OFFSET:LENGTH       bytes [OFFSET, OFFSET+LENGTH) are unreadable, widened to whole
//                             512-byte sectors; a read request touching them fails whole
//                             with EIO, as a disk's does (repeatable)
//   --gone-after=BYTES        once BYTES have been served, every read fails with ENODEV,
//                             like a disk that was pulled out
//   --gone-when=PATH          the same, from the moment PATH exists
//   --shrink-to=SIZE          after a trigger, the file reports SIZE bytes and reads past
//                             SIZE find its end: a source that shrinks
//   --shrink-after=BYTES      the trigger: once BYTES have been served (default 0)
//   --shrink-when=PATH        the trigger: from the moment PATH exists
//   --slow=MS                 every read that fails with EIO takes MS milliseconds first,
//                             as a dying disk's retries do
//   --rate=MBPS               a disk of MBPS megabytes (10^6 bytes) a second that serves
//                             one request at a time: each read waits for those before it,
//                             then for its own bytes at that rate (for benchmarks)
//   --name=NAME               the file's name in the mount (default disk.img)
//   --log=PATH                appends one line per read: offset, size, and the result
//
// usage: quillon-faulty-file --image=BACKING [options] MOUNTPOINT -f [FUSE options]
//        ... then: fusermount3 -u MOUNTPOINT
//
// Every open uses direct I/O and attributes are never cached, so each read() of a program
// reaches this file system as issued (the page cache would merge neighbouring sectors into
// one request and retry failed ones sector by sector on its own), and a shrunk size is seen
// at once. The kernel may still split a read larger than its request limit (128 KiB or
// more) into several requests; each is judged on its own.

#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define SECTOR 512
#define MAX_BAD_RANGES 256

struct range {
  uint64_t first;
  uint64_t end;  // one past the last byte
};

struct faulty_file;

struct options {
  const char* image;
  const char* name;
  const char* log;
  const char* gone_when;
  const char* shrink_when;
  char* gone_after;
  char* shrink_to;
  char* shrink_after;
  char* slow;
  char* rate;
  int show_help;
  struct faulty_file* file;  // --bad ranges go straight here
};

// The file system's whole state, reached through fuse_get_context()->private_data.
struct faulty_file {
  int backing;
  uint64_t size;  // of the backing image
  char path[256];  // "/" and the name
  struct range bad[MAX_BAD_RANGES];
  int bad_count;
  int64_t gone_after;    // -1: no byte trigger
  const char* gone_when;
  int64_t shrink_to;     // -1: never shrinks
  int64_t shrink_after;  // -1: no byte trigger
  const char* shrink_when;
  int64_t slow_ms;       // how long a failing read takes; -1: at once
  int64_t rate_mbps;     // the disk's rate; -1: as fast as the backing image
  pthread_mutex_t disk;  // guards busy_until
  struct timespec busy_until;  // when the disk has served every request so far
  FILE* log;
  pthread_mutex_t lock;  // guards served, gone and shrunk
  uint64_t served;
  int gone;
  int shrunk;
};

static struct faulty_file* state(void) {
  return (struct faulty_file*)fuse_get_context()->private_data;
}

static int exists(const char* path) { return path != NULL && access(path, F_OK) == 0; }

// Updates the triggers; called with the lock held.
static void check_triggers(struct faulty_file* f) {
  if (!f->gone && ((f->gone_after >= 0 && f->served >= (uint64_t)f->gone_after) ||
                   exists(f->gone_when))) {
    f->gone = 1;
  }
  if (!f->shrunk && f->shrink_to >= 0 &&
      ((f->shrink_after >= 0 && f->served >= (uint64_t)f->shrink_after) ||
       exists(f->shrink_when))) {
    f->shrunk = 1;
  }
}

static uint64_t current_size(struct faulty_file* f) {
  pthread_mutex_lock(&f->lock);
  check_triggers(f);
  const uint64_t size = f->shrunk ? (uint64_t)f->shrink_to : f->size;
  pthread_mutex_unlock(&f->lock);
  return size;
}

static int faulty_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  struct faulty_file* f = state();
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (strcmp(path, f->path) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = (off_t)current_size(f);
  st->st_blksize = SECTOR;
  st->st_blocks = (blkcnt_t)((st->st_size + SECTOR - 1) / SECTOR);
  return 0;
}

static int faulty_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                          struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset;
  (void)fi;
  (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, state()->path + 1, NULL, 0, 0);
  return 0;
}

static int faulty_open(const char* path, struct fuse_file_info* fi) {
  if (strcmp(path, state()->path) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

static int64_t nanoseconds(const struct timespec* t) {
  return (int64_t)t->tv_sec * 1000000000LL + t->tv_nsec;
}

// With --rate: waits as a disk that serves one request at a time would for n bytes.
static void wait_for_disk(struct faulty_file* f, uint64_t n) {
  if (f->rate_mbps <= 0) return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  pthread_mutex_lock(&f->disk);
  int64_t start = nanoseconds(&f->busy_until);
  if (start < nanoseconds(&now)) start = nanoseconds(&now);
  const int64_t done = start + (int64_t)(n * 1000 / (uint64_t)f->rate_mbps);  // ns
  f->busy_until.tv_sec = done / 1000000000LL;
  f->busy_until.tv_nsec = done % 1000000000LL;
  const struct timespec until = f->busy_until;
  pthread_mutex_unlock(&f->disk);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
  }
}

static int touches_bad_range(const struct faulty_file* f, uint64_t first, uint64_t end) {
  for (int i = 0; i < f->bad_count; ++i) {
    if (first < f->bad[i].end && f->bad[i].first < end) return 1;
  }
  return 0;
}

static int faulty_read(const char* path, char* buf, size_t size, off_t offset,
                       struct fuse_file_info* fi) {
  (void)fi;
  struct faulty_file* f = state();
  if (strcmp(path, f->path) != 0) return -ENOENT;
  pthread_mutex_lock(&f->lock);
  check_triggers(f);
  const int gone = f->gone;
  const uint64_t file_size = f->shrunk ? (uint64_t)f->shrink_to : f->size;
  pthread_mutex_unlock(&f->lock);

  int result;
  const uint64_t first = (uint64_t)offset;
  uint64_t end = first + size;
  if (end > file_size) end = file_size;
  if (gone) {
    result = -ENODEV;
  } else if (first >= end) {
    result = 0;  // at or past the end
  } else if (touches_bad_range(f, first, end)) {
    if (f->slow_ms > 0) {
      const struct timespec pause = {f->slow_ms / 1000, (long)(f->slow_ms % 1000) * 1000000L};
      nanosleep(&pause, NULL);
    }
    result = -EIO;
  } else {
    wait_for_disk(f, end - first);
    const ssize_t got = pread(f->backing, buf, (size_t)(end - first), offset);
    result = got < 0 ? -errno : (int)got;
  }
  if (result > 0) {
    pthread_mutex_lock(&f->lock);
    f->served += (uint64_t)result;
    pthread_mutex_unlock(&f->lock);
  }
  if (f->log != NULL) {
    pthread_mutex_lock(&f->lock);
    fprintf(f->log, "%" PRIu64 "\t%zu\t%s\n", first, size,
            result >= 0 ? "ok" : result == -EIO ? "EIO" : result == -ENODEV ? "ENODEV" : "error");
    fflush(f->log);
    pthread_mutex_unlock(&f->lock);
  }
  return result;
}

static void* faulty_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  cfg->attr_timeout = 0;
  cfg->entry_timeout = 0;
  cfg->negative_timeout = 0;
  return fuse_get_context()->private_data;
}

static const struct fuse_operations faulty_operations = {
    .getattr = faulty_getattr,
    .readdir = faulty_readdir,
    .open = faulty_open,
    .read = faulty_read,
    .init = faulty_init,
};

enum { KEY_BAD = 1 };

#define OPTION(text, member) {text, offsetof(struct options, member), 1}
static const struct fuse_opt option_table[] = {
    FUSE_OPT_KEY("--bad=", KEY_BAD),
    OPTION("--image=%s", image),
    OPTION("--name=%s", name),
    OPTION("--log=%s", log),
    OPTION("--gone-after=%s", gone_after),
    OPTION("--gone-when=%s", gone_when),
    OPTION("--shrink-to=%s", shrink_to),
    OPTION("--shrink-after=%s", shrink_after),
    OPTION("--shrink-when=%s", shrink_when),
    OPTION("--slow=%s", slow),
    OPTION("--rate=%s", rate),
    OPTION("-h", show_help),
    OPTION("--help", show_help),
    FUSE_OPT_END,
};

// A decimal count (bytes, milliseconds for --slow, MB/s for --rate), or -1 when text is NULL; exits on
// anything else.
static int64_t parse_bytes(const char* text, const char* what) {
  if (text == NULL) return -1;
  char* end = NULL;
  errno = 0;
  const long long value = strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0) {
    fprintf(stderr, "quillon-faulty-file: %s must be a whole number, not \"%s\"\n", what, text);
    exit(2);
  }
  return value;
}

// --bad options are taken apart here, since a plain option keeps only the last of a
// repeated one. Everything else is left for fuse_main.
static int take_bad_range(void* data, const char* arg, int key, struct fuse_args* args) {
  (void)args;
  struct faulty_file* f = ((struct options*)data)->file;
  if (key != KEY_BAD) return 1;
  unsigned long long offset = 0;
  unsigned long long length = 0;
  char tail = 0;
  if (sscanf(arg + 6, "%llu:%llu%c", &offset, &length, &tail) != 2 || length == 0) {
    fprintf(stderr, "quillon-faulty-file: --bad wants OFFSET:LENGTH in bytes, not \"%s\"\n",
            arg + 6);
    exit(2);
  }
  if (f->bad_count == MAX_BAD_RANGES) {
    fprintf(stderr, "quillon-faulty-file: at most %d --bad ranges\n", MAX_BAD_RANGES);
    exit(2);
  }
  // Whole sectors: the first sector touched to the last.
  f->bad[f->bad_count].first = offset / SECTOR * SECTOR;
  f->bad[f->bad_count].end = (offset + length + SECTOR - 1) / SECTOR * SECTOR;
  ++f->bad_count;
  return 0;  // taken
}

static void usage(const char* program) {
  printf("usage: %s --image=BACKING [--name=NAME] [--bad=OFFSET:LENGTH]... [--slow=MS]\n"
         "       [--rate=MBPS]\n"
         "       [--gone-after=BYTES | --gone-when=PATH]\n"
         "       [--shrink-to=SIZE [--shrink-after=BYTES | --shrink-when=PATH]]\n"
         "       [--log=PATH] MOUNTPOINT [-f] [FUSE options]\n\n",
         program);
}

int main(int argc, char* argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
  static struct faulty_file f;
  struct options options = {0};
  options.file = &f;
  pthread_mutex_init(&f.lock, NULL);

  if (fuse_opt_parse(&args, &options, option_table, take_bad_range) != 0) return 2;
  if (options.show_help) {
    usage(argv[0]);
    fuse_opt_add_arg(&args, "--help");
    args.argv[0][0] = '\0';
    const int rc = fuse_main(args.argc, args.argv, &faulty_operations, NULL);
    fuse_opt_free_args(&args);
    return rc;
  }
  if (options.image == NULL) {
    usage(argv[0]);
    fprintf(stderr, "quillon-faulty-file: --image=BACKING is required\n");
    return 2;
  }
  f.backing = open(options.image, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (f.backing < 0 || fstat(f.backing, &st) != 0) {
    fprintf(stderr, "quillon-faulty-file: cannot open \"%s\": %s\n", options.image,
            strerror(errno));
    return 1;
  }
  f.size = (uint64_t)st.st_size;
  const char* name = options.name != NULL ? options.name : "disk.img";
  if (strchr(name, '/') != NULL || strlen(name) + 2 > sizeof f.path || name[0] == '\0') {
    fprintf(stderr, "quillon-faulty-file: \"%s\" is not a file name\n", name);
    return 2;
  }
  snprintf(f.path, sizeof f.path, "/%s", name);
  f.gone_after = parse_bytes(options.gone_after, "--gone-after");
  f.gone_when = options.gone_when;
  f.shrink_to = parse_bytes(options.shrink_to, "--shrink-to");
  f.shrink_after = parse_bytes(options.shrink_after, "--shrink-after");
  f.shrink_when = options.shrink_when;
  f.slow_ms = parse_bytes(options.slow, "--slow");
  f.rate_mbps = parse_bytes(options.rate, "--rate");
  pthread_mutex_init(&f.disk, NULL);
  if (f.shrink_to >= 0 && f.shrink_after < 0 && f.shrink_when == NULL) f.shrink_after = 0;
  if (options.log != NULL) {
    f.log = fopen(options.log, "a");
    if (f.log == NULL) {
      fprintf(stderr, "quillon-faulty-file: cannot open the log \"%s\": %s\n", options.log,
              strerror(errno));
      return 1;
    }
  }

  const int rc = fuse_main(args.argc, args.argv, &faulty_operations, &f);
  fuse_opt_free_args(&args);
  if (f.log != NULL) fclose(f.log);
  close(f.backing);
  return rc;
}
