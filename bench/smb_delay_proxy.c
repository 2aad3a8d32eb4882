/* A TCP proxy on loopback that holds every chunk for exactly DELAY_US in each direction
 * (each chunk is sent at its arrival time plus the delay, an absolute deadline, so
 * chunks in flight overlap as on a real link) and counts the SMB2 requests that clients
 * send, by command. Stands in for network latency where the kernel has no netem.
 *
 * One thread serves every connection from one epoll set, with one timer armed for the
 * earliest deadline: a real link costs the hosts at its ends nothing, so the proxy should
 * take as little as it can of the cores that client and server share with it.
 *
 * usage: bench_smb_delay_proxy LISTEN_PORT TARGET_PORT DELAY_US
 * On SIGTERM or SIGINT it prints "requests TOTAL" and one "COMMAND COUNT" line per command
 * seen to standard output, then ends. Listens on 127.0.0.1 and forwards to 127.0.0.1. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

static long DelayNs;
static int TargetPort;
static atomic_long Requests[19];
static const char* const CommandNames[19] = {
    "NEGOTIATE", "SESSION_SETUP", "LOGOFF", "TREE_CONNECT", "TREE_DISCONNECT", "CREATE",
    "CLOSE", "FLUSH", "READ", "WRITE", "LOCK", "IOCTL", "CANCEL", "ECHO", "QUERY_DIRECTORY",
    "CHANGE_NOTIFY", "QUERY_INFO", "SET_INFO", "OPLOCK_BREAK"};

struct chunk {
  struct chunk* next;
  struct timespec due;
  size_t size;  /* 0: the sender closed its side */
  unsigned char data[];
};

/* One direction of one connection: chunks read from `from`, waiting to go to `to`. */
struct direction {
  int from, to;
  int count;   /* client to server: parse and count SMB2 requests */
  int ended;   /* the sender closed its side and that was passed on */
  struct chunk *head, *tail;
  unsigned char* parse;  /* bytes of an unfinished frame */
  size_t parsed;
  struct direction* other;
  struct direction* next_open;  /* the list of every open direction */
};

static struct direction* Open;  /* every direction of every open connection */

static void add_ns(struct timespec* t, long ns) {
  t->tv_nsec += ns;
  while (t->tv_nsec >= 1000000000L) {
    t->tv_nsec -= 1000000000L;
    t->tv_sec++;
  }
}

/* Counts the requests of every whole frame (4-byte length, then one or more chained SMB2
 * headers) in the bytes seen so far. */
static void count_requests(struct direction* d, const unsigned char* data, size_t size) {
  d->parse = realloc(d->parse, d->parsed + size);
  memcpy(d->parse + d->parsed, data, size);
  d->parsed += size;
  size_t at = 0;
  while (d->parsed - at >= 4) {
    size_t length = ((size_t)d->parse[at + 1] << 16) | ((size_t)d->parse[at + 2] << 8) | d->parse[at + 3];
    if (d->parsed - at - 4 < length) break;
    const unsigned char* frame = d->parse + at + 4;
    size_t offset = 0;
    while (offset + 24 <= length && memcmp(frame + offset, "\xfeSMB", 4) == 0) {
      unsigned command = frame[offset + 12] | (frame[offset + 13] << 8);
      if (command < 19) atomic_fetch_add(&Requests[command], 1);
      uint32_t next = frame[offset + 20] | (frame[offset + 21] << 8) | (frame[offset + 22] << 16) |
                      ((uint32_t)frame[offset + 23] << 24);
      if (next == 0) break;
      offset += next;
    }
    at += 4 + length;
  }
  memmove(d->parse, d->parse + at, d->parsed - at);
  d->parsed -= at;
}

static int earlier(const struct timespec* a, const struct timespec* b) {
  return a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_nsec < b->tv_nsec);
}

/* Reads what waits on d->from and queues it with its deadline; end of data queues a close. */
static void take(struct direction* d) {
  unsigned char buffer[65536];
  ssize_t n = read(d->from, buffer, sizeof buffer);
  struct chunk* c = malloc(sizeof *c + (n > 0 ? (size_t)n : 0));
  c->next = NULL;
  clock_gettime(CLOCK_MONOTONIC, &c->due);
  add_ns(&c->due, DelayNs);
  c->size = n > 0 ? (size_t)n : 0;
  if (n > 0) {
    memcpy(c->data, buffer, (size_t)n);
    if (d->count) count_requests(d, buffer, (size_t)n);
  }
  if (d->tail) d->tail->next = c; else d->head = c;
  d->tail = c;
}

/* Sends every chunk of d that is due by now; a due close shuts the receiver's side. */
static void send_due(struct direction* d, const struct timespec* now) {
  while (d->head && !earlier(now, &d->head->due)) {
    struct chunk* c = d->head;
    d->head = c->next;
    if (!d->head) d->tail = NULL;
    size_t sent = 0;
    while (sent < c->size) {
      ssize_t n = write(d->to, c->data + sent, c->size - sent);
      if (n <= 0) break;
      sent += (size_t)n;
    }
    if (c->size == 0) {
      shutdown(d->to, SHUT_WR);
      d->ended = 1;
    }
    free(c);
  }
}

static void open_connection(int epoll, int client) {
  int server = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((uint16_t)TargetPort)};
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(server, (struct sockaddr*)&to, sizeof to) != 0) {
    close(client);
    close(server);
    return;
  }
  int one = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  struct direction* up = calloc(1, sizeof *up);
  struct direction* down = calloc(1, sizeof *down);
  *up = (struct direction){.from = client, .to = server, .count = 1, .other = down};
  *down = (struct direction){.from = server, .to = client, .other = up};
  up->next_open = down;
  down->next_open = Open;
  Open = up;
  struct epoll_event event = {.events = EPOLLIN, .data.ptr = up};
  epoll_ctl(epoll, EPOLL_CTL_ADD, client, &event);
  event.data.ptr = down;
  epoll_ctl(epoll, EPOLL_CTL_ADD, server, &event);
}

/* Frees the connections whose both directions have ended. */
static void close_ended(void) {
  for (struct direction** link = &Open; *link;) {
    struct direction* d = *link;
    if (d->ended && d->other->ended && !d->head && !d->other->head) {
      struct direction* other = d->other;
      *link = d->next_open;
      for (struct direction** o = &Open; *o; o = &(*o)->next_open)
        if (*o == other) {
          *o = other->next_open;
          break;
        }
      close(d->from);
      close(d->to);
      free(d->parse);
      free(other->parse);
      free(d);
      free(other);
      link = &Open;  /* the list changed */
      continue;
    }
    link = &d->next_open;
  }
}

/* Waits for SIGTERM or SIGINT (blocked in every other thread), prints the counts, ends. */
static void* report(void* arg) {
  sigset_t* stop = arg;
  int signal = 0;
  sigwait(stop, &signal);
  long total = 0;
  for (int i = 0; i < 19; ++i) total += atomic_load(&Requests[i]);
  printf("requests %ld\n", total);
  for (int i = 0; i < 19; ++i) {
    long n = atomic_load(&Requests[i]);
    if (n) printf("%s %ld\n", CommandNames[i], n);
  }
  fflush(stdout);
  _exit(0);
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT DELAY_US\n", argv[0]);
    return 2;
  }
  TargetPort = atoi(argv[2]);
  DelayNs = atol(argv[3]) * 1000L;
  signal(SIGPIPE, SIG_IGN);
  static sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, NULL);
  pthread_t reporter;
  pthread_create(&reporter, NULL, report, &stop);
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in at = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(argv[1]))};
  inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
  if (bind(listener, (struct sockaddr*)&at, sizeof at) != 0 || listen(listener, 64) != 0) {
    perror("listen");
    return 1;
  }
  int epoll = epoll_create1(EPOLL_CLOEXEC);
  int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  static char listen_mark, timer_mark;
  struct epoll_event event = {.events = EPOLLIN, .data.ptr = &listen_mark};
  epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
  event.data.ptr = &timer_mark;
  epoll_ctl(epoll, EPOLL_CTL_ADD, timer, &event);
  for (;;) {
    struct epoll_event events[64];
    int n = epoll_wait(epoll, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      void* what = events[i].data.ptr;
      if (what == &listen_mark) {
        int client = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
        if (client >= 0) open_connection(epoll, client);
      } else if (what == &timer_mark) {
        uint64_t expirations;
        if (read(timer, &expirations, sizeof expirations) < 0) {}  /* drained; nothing to do */
      } else {
        struct direction* d = what;
        take(d);
        if (d->tail && d->tail->size == 0) epoll_ctl(epoll, EPOLL_CTL_DEL, d->from, NULL);
      }
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    struct timespec next = {0, 0};
    for (struct direction* d = Open; d; d = d->next_open) {
      send_due(d, &now);
      if (d->head && (next.tv_sec == 0 && next.tv_nsec == 0 ? 1 : earlier(&d->head->due, &next))) next = d->head->due;
    }
    close_ended();
    struct itimerspec arm = {.it_value = next};  /* all zero: disarmed */
    timerfd_settime(timer, TFD_TIMER_ABSTIME, &arm, NULL);
  }
}
