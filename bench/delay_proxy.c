/* TCP proxy on 127.0.0.1 that adds a round-trip time to every connection through it.

usage: delay_proxy UPSTREAM_PORT [--rtt-ms MS]

Listens on a free port of 127.0.0.1, prints that port as its first line on standard output,
and forwards every connection it accepts to 127.0.0.1:UPSTREAM_PORT. Each chunk read from
one side reaches the other side half a round trip after it was read, in order; throughput is
not limited. A connection's first bytes towards the server also wait out the round trip of
the TCP handshake that a real network would cost, since the handshake with the proxy itself
takes no time.

Each direction of a connection has a thread that only reads and one that only writes. A
chunk's time is the kernel's receive time of its bytes (so a reader that wakes up late does
not delay it); the writer sleeps until the chunk's due time as an absolute deadline on the
monotonic clock (the last tenth of a millisecond awake), so the time spent writing earlier
chunks never adds up. A thread that both read and slept would stamp whatever arrived during
its sleep only when it woke.

On SIGUSR1 it prints one line of counts since the previous SIGUSR1 and starts them over:
  connections=N peak=N chunks=N late_mean_ms=X late_max_ms=X
peak is the most connections open at once; a chunk's lateness is how long after its due
time it was written, the time the proxy itself added beyond the round trip. SIGTERM or
SIGINT ends it (exit status 0); a usage error gives exit status 2. */

#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <math.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { CHUNK_BYTES = 256 * 1024 };
/* Per direction; a receiver that falls behind holds back the sender once this much waits. */
static const size_t QUEUED_BYTES_MAX = 64u << 20;
typedef long long nanos;

static const nanos NS_PER_S = 1000000000LL;
static const nanos AWAKE_NS = 100 * 1000;

static nanos half_rtt;
static int upstream_port;

static nanos monotonic_now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * NS_PER_S + now.tv_nsec;
}

/* CLOCK_REALTIME minus CLOCK_MONOTONIC: turns the kernel's receive stamps into monotonic
   time. */
static nanos realtime_offset(void) {
  struct timespec real;
  clock_gettime(CLOCK_REALTIME, &real);
  return real.tv_sec * NS_PER_S + real.tv_nsec - monotonic_now();
}

static void sleep_until(nanos due) {
  struct timespec at = {.tv_sec = due / NS_PER_S, .tv_nsec = due % NS_PER_S};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, NULL) == EINTR) {
  }
}

/* Sleeps until shortly before `due`, then waits out the rest awake, handing the processor to
   any thread that wants it: a processor gone idle (a virtual one above all) wakes up for a
   timer about a tenth of a millisecond late, which would add that to every chunk. */
static void wait_until(nanos due) {
  sleep_until(due - AWAKE_NS);
  while (monotonic_now() < due) sched_yield();
}

static void fail(const char* what) {
  perror(what);
  exit(1);
}

/* ------------------------------------------------------------------------ counts */

static struct {
  pthread_mutex_t lock;
  int open;
  int connections;
  int peak;
  long long chunks;
  nanos late_total;
  nanos late_max;
} counts = {.lock = PTHREAD_MUTEX_INITIALIZER};

static void count_opened(void) {
  pthread_mutex_lock(&counts.lock);
  counts.connections++;
  if (++counts.open > counts.peak) counts.peak = counts.open;
  pthread_mutex_unlock(&counts.lock);
}

static void count_closed(void) {
  pthread_mutex_lock(&counts.lock);
  counts.open--;
  pthread_mutex_unlock(&counts.lock);
}

static void count_forwarded(nanos lateness) {
  pthread_mutex_lock(&counts.lock);
  counts.chunks++;
  counts.late_total += lateness;
  if (lateness > counts.late_max) counts.late_max = lateness;
  pthread_mutex_unlock(&counts.lock);
}

static void report_counts(void) {
  pthread_mutex_lock(&counts.lock);
  double mean = counts.chunks ? (double)counts.late_total / (double)counts.chunks : 0.0;
  printf("connections=%d peak=%d chunks=%lld late_mean_ms=%.3f late_max_ms=%.3f\n",
         counts.connections, counts.peak, counts.chunks, mean / 1e6, (double)counts.late_max / 1e6);
  fflush(stdout);
  counts.connections = 0;
  counts.peak = counts.open;
  counts.chunks = 0;
  counts.late_total = 0;
  counts.late_max = 0;
  pthread_mutex_unlock(&counts.lock);
}

/* ------------------------------------------------------------------------ relay */

/* A piece of the stream as one read returned it; size 0 is the end of the stream. */
struct chunk {
  struct chunk* next;
  nanos due;
  size_t size;
  char bytes[];
};

/* One direction of a connection: chunks read from `from`, waiting to be written to `to`. */
struct direction {
  struct relay* relay;
  int from;
  int to;
  nanos not_before; /* no chunk is due before this plus half a round trip */
  pthread_mutex_t lock;
  pthread_cond_t has_chunk;
  pthread_cond_t has_room;
  struct chunk* head;
  struct chunk* tail;
  size_t queued;
  bool writer_gone; /* the writer failed: chunks are dropped, the reader never waits */
};

struct relay {
  int client;
  int server;
  atomic_int threads_left;
  struct direction up;   /* client to server */
  struct direction down; /* server to client */
};

static void init_direction(struct direction* d, struct relay* relay, int from, int to,
                           nanos not_before) {
  *d = (struct direction){.relay = relay, .from = from, .to = to, .not_before = not_before};
  pthread_mutex_init(&d->lock, NULL);
  pthread_cond_init(&d->has_chunk, NULL);
  pthread_cond_init(&d->has_room, NULL);
}

static void destroy_direction(struct direction* d) {
  pthread_mutex_destroy(&d->lock);
  pthread_cond_destroy(&d->has_chunk);
  pthread_cond_destroy(&d->has_room);
}

/* A side that fails (reset, closed) ends the whole connection: both readers see the end. */
static void abort_relay(struct relay* relay) {
  shutdown(relay->client, SHUT_RDWR);
  shutdown(relay->server, SHUT_RDWR);
}

/* Each of the four threads lets go of the connection; the last one closes it. */
static void release_relay(struct relay* relay) {
  if (atomic_fetch_sub(&relay->threads_left, 1) != 1) return;
  close(relay->client);
  close(relay->server);
  destroy_direction(&relay->up);
  destroy_direction(&relay->down);
  free(relay);
  count_closed();
}

static void enqueue(struct direction* d, struct chunk* chunk) {
  pthread_mutex_lock(&d->lock);
  while (d->queued > QUEUED_BYTES_MAX && !d->writer_gone) pthread_cond_wait(&d->has_room, &d->lock);
  if (d->tail) {
    d->tail->next = chunk;
  } else {
    d->head = chunk;
  }
  d->tail = chunk;
  d->queued += chunk->size;
  pthread_cond_signal(&d->has_chunk);
  pthread_mutex_unlock(&d->lock);
}

static struct chunk* dequeue(struct direction* d) {
  pthread_mutex_lock(&d->lock);
  while (!d->head) pthread_cond_wait(&d->has_chunk, &d->lock);
  struct chunk* chunk = d->head;
  d->head = chunk->next;
  if (!d->head) d->tail = NULL;
  d->queued -= chunk->size;
  pthread_cond_signal(&d->has_room);
  pthread_mutex_unlock(&d->lock);
  return chunk;
}

static void writer_failed(struct direction* d) {
  pthread_mutex_lock(&d->lock);
  d->writer_gone = true;
  pthread_cond_signal(&d->has_room);
  pthread_mutex_unlock(&d->lock);
  abort_relay(d->relay);
}

/* One read of up to CHUNK_BYTES, and when it arrived: the kernel's receive time of its
   last packet where the socket gives one (so the time this thread took to wake up is not
   added), else the time the read returned. */
static ssize_t receive_stamped(int fd, char* buffer, nanos* arrived) {
  struct iovec space = {.iov_base = buffer, .iov_len = CHUNK_BYTES};
  union {
    struct cmsghdr align;
    char bytes[CMSG_SPACE(sizeof(struct timespec))];
  } control;
  struct msghdr message = {.msg_iov = &space,
                           .msg_iovlen = 1,
                           .msg_control = &control,
                           .msg_controllen = sizeof control};
  ssize_t got = recvmsg(fd, &message, 0);
  nanos now = monotonic_now();
  *arrived = now;
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      struct timespec stamp;
      memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      nanos stamped = stamp.tv_sec * NS_PER_S + stamp.tv_nsec - realtime_offset();
      if (stamped <= now && stamped > now - NS_PER_S)
        *arrived = stamped; /* unless the clock was set */
    }
  }
  return got;
}

/* Reads until the end of the stream, stamping each chunk with the time it is due. */
static void* receive(void* arg) {
  struct direction* d = arg;
  char* buffer = malloc(CHUNK_BYTES);
  if (!buffer) fail("delay_proxy: malloc");
  for (;;) {
    nanos read_at;
    ssize_t got = receive_stamped(d->from, buffer, &read_at);
    if (got < 0 && errno == EINTR) continue;
    size_t size = got > 0 ? (size_t)got : 0;
    struct chunk* chunk = malloc(sizeof *chunk + size);
    if (!chunk) fail("delay_proxy: malloc");
    *chunk = (struct chunk){.due = (read_at > d->not_before ? read_at : d->not_before) + half_rtt,
                            .size = size};
    memcpy(chunk->bytes, buffer, size);
    enqueue(d, chunk);
    if (got < 0) abort_relay(d->relay);
    if (got <= 0) break;
  }
  free(buffer);
  release_relay(d->relay);
  return NULL;
}

static bool send_all(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= (size_t)sent;
  }
  return true;
}

/* Writes each chunk at its due time and passes the end of the stream on; after a failed
   write it only drains the queue until the reader has ended too. */
static void* forward(void* arg) {
  struct direction* d = arg;
  bool failed = false;
  for (;;) {
    struct chunk* chunk = dequeue(d);
    size_t size = chunk->size;
    if (!failed) {
      wait_until(chunk->due);
      count_forwarded(monotonic_now() - chunk->due);
      if (size == 0) {
        shutdown(d->to, SHUT_WR);
      } else if (!send_all(d->to, chunk->bytes, size)) {
        failed = true;
        writer_failed(d);
      }
    }
    free(chunk);
    if (size == 0) break;
  }
  release_relay(d->relay);
  return NULL;
}

static void start_thread(void* (*body)(void*), struct direction* d) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 128 * 1024);
  pthread_t thread;
  int error = pthread_create(&thread, &attributes, body, d);
  pthread_attr_destroy(&attributes);
  if (error) {
    errno = error;
    fail("delay_proxy: pthread_create");
  }
}

static void set_options(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

static struct sockaddr_in loopback(int port) {
  return (struct sockaddr_in){.sin_family = AF_INET,
                              .sin_port = htons((unsigned short)port),
                              .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
}

static int connect_upstream(void) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in address = loopback(upstream_port);
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

static void relay_connection(int client, nanos accepted) {
  int server = connect_upstream();
  if (server < 0) {
    close(client);
    return;
  }
  set_options(client);
  set_options(server);
  struct relay* relay = malloc(sizeof *relay);
  if (!relay) fail("delay_proxy: malloc");
  relay->client = client;
  relay->server = server;
  atomic_init(&relay->threads_left, 4);
  init_direction(&relay->up, relay, client, server, accepted + 2 * half_rtt);
  init_direction(&relay->down, relay, server, client, accepted);
  count_opened();
  start_thread(receive, &relay->up);
  start_thread(forward, &relay->up);
  start_thread(receive, &relay->down);
  start_thread(forward, &relay->down);
}

static void* accept_connections(void* arg) {
  int listener = *(int*)arg;
  for (;;) {
    int client = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
    nanos accepted = monotonic_now();
    if (client >= 0) {
      relay_connection(client, accepted);
    } else if (errno != EINTR && errno != ECONNABORTED) {
      perror("delay_proxy: accept");
      sleep_until(monotonic_now() + NS_PER_S / 100); /* out of descriptors: let some close */
    }
  }
  return NULL;
}

/* ------------------------------------------------------------------------ main */

static void usage(const char* problem) {
  fprintf(problem ? stderr : stdout, "usage: delay_proxy UPSTREAM_PORT [--rtt-ms MS]\n");
  if (problem) fprintf(stderr, "delay_proxy: %s\n", problem);
  exit(problem ? 2 : 0);
}

static double parse_number(const char* text, const char* what) {
  char* end;
  errno = 0;
  double value = strtod(text, &end);
  if (errno || end == text || *end || !isfinite(value) || value < 0) usage(what);
  return value;
}

static void parse_arguments(int argc, char** argv) {
  double rtt_ms = 20.0;
  const char* port = NULL;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      usage(NULL);
    } else if (strcmp(arg, "--rtt-ms") == 0) {
      if (++i == argc) usage("--rtt-ms needs a value");
      rtt_ms = parse_number(argv[i], "--rtt-ms must be a number of milliseconds");
    } else if (strncmp(arg, "--rtt-ms=", 9) == 0) {
      rtt_ms = parse_number(arg + 9, "--rtt-ms must be a number of milliseconds");
    } else if (!port && arg[0] != '-') {
      port = arg;
    } else {
      usage("unexpected argument");
    }
  }
  if (!port) usage("UPSTREAM_PORT is missing");
  double number = parse_number(port, "UPSTREAM_PORT must be a port number");
  if (number < 1 || number > 65535 || number != floor(number)) {
    usage("UPSTREAM_PORT must be a port number");
  }
  upstream_port = (int)number;
  half_rtt = llround(rtt_ms * 1e6 / 2);
}

static int listen_on_free_port(void) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(fd, SOMAXCONN) != 0 || getsockname(fd, (struct sockaddr*)&address, &length) != 0) {
    fail("delay_proxy: listen");
  }
  printf("%d\n", ntohs(address.sin_port));
  fflush(stdout);
  return fd;
}

int main(int argc, char** argv) {
  parse_arguments(argc, argv);
  /* Every thread inherits both: signals are taken here only, and sleeps end on time rather
     than up to the default 50 microseconds late. */
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, NULL);
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  int listener = listen_on_free_port();
  pthread_t acceptor;
  if (pthread_create(&acceptor, NULL, accept_connections, &listener) != 0) {
    fail("delay_proxy: pthread_create");
  }
  for (;;) {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
    if (signal_number != SIGUSR1) break;
    report_counts();
  }
  _exit(0);
}
