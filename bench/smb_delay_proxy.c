/* A TCP proxy on loopback that holds every chunk for exactly DELAY_US in each direction
 * (each chunk is sent at its arrival time plus the delay, an absolute deadline, so
 * chunks in flight overlap as on a real link) and counts the SMB2 requests that clients
 * send, by command. Stands in for network latency where the kernel has no netem.
 *
 * One thread serves every connection from one epoll set, with one timer armed for the
 * earliest deadline: a real link costs the hosts at its ends nothing, so the proxy should
 * take as little as it can of the cores that client and server share with it.
 *
 * usage: bench_smb_delay_proxy LISTEN_PORT TARGET_PORT DELAY_US [PROFILE_FILE]
 * On SIGTERM or SIGINT it prints "requests TOTAL" and one "COMMAND COUNT" line per command
 * seen to standard output, then ends. Listens on 127.0.0.1 and forwards to 127.0.0.1.
 *
 * With PROFILE_FILE it also writes there, at the end, where the time went: each
 * connection (when it was opened, when its tree connect was answered, its requests, how
 * long it had at least one request in flight) and the requests in flight over time, per
 * 10 ms, then every request with its times. A request is in flight from the moment it reaches the proxy (the client's send,
 * on loopback) until its answer is handed to the client (the delay later); interim
 * answers (STATUS_PENDING) do not end it. Times count from the first connection. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

static long DelayNs;
static int TargetPort;
static long Requests[19];
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

/* A request that waits for its answer: its message id and when it reached the proxy. */
struct pending {
  uint64_t id;
  unsigned command;  /* 19: an SMB1 frame */
  long at_ns;
};

/* What the profile keeps of one connection. */
struct connection {
  int number;            /* in order of opening, from 1 */
  long opened_ns;
  long set_up_ns;        /* its TREE_CONNECT answered; -1 before */
  long requests;
  struct pending* pending;  /* requests in flight */
  size_t pending_count, pending_room;
};

/* One request from its arrival to its answer's delivery. */
struct interval {
  int connection;
  unsigned command;
  long from_ns, to_ns;
};

static const char* ProfilePath;  /* NULL: no profile */
static long StartNs = -1;        /* the first connection's opening */
static struct connection** Connections;
static size_t ConnectionCount;
static struct interval* Intervals;
static size_t IntervalCount, IntervalRoom;

/* One direction of one connection: chunks read from `from`, waiting to go to `to`. */
struct direction {
  int from, to;
  int count;   /* client to server: parse and count SMB2 requests */
  struct connection* connection;
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

static long ns_of(const struct timespec* t) { return (long)t->tv_sec * 1000000000L + t->tv_nsec; }

static uint64_t le64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

/* A request of c reached the proxy at at_ns. */
static void request_sent(struct connection* c, uint64_t id, unsigned command, long at_ns) {
  c->requests++;
  if (c->pending_count == c->pending_room) {
    c->pending_room = c->pending_room ? 2 * c->pending_room : 16;
    c->pending = realloc(c->pending, c->pending_room * sizeof *c->pending);
  }
  c->pending[c->pending_count++] = (struct pending){id, command, at_ns};
}

/* The answer to request id of c reaches the client at at_ns. */
static void answer_delivered(struct connection* c, uint64_t id, unsigned command, long at_ns) {
  for (size_t i = 0; i < c->pending_count; ++i) {
    if (c->pending[i].id != id) continue;
    if (IntervalCount == IntervalRoom) {
      IntervalRoom = IntervalRoom ? 2 * IntervalRoom : 4096;
      Intervals = realloc(Intervals, IntervalRoom * sizeof *Intervals);
    }
    Intervals[IntervalCount++] = (struct interval){c->number, c->pending[i].command, c->pending[i].at_ns, at_ns};
    c->pending[i] = c->pending[--c->pending_count];
    if (command == 3 && c->set_up_ns < 0) c->set_up_ns = at_ns;  /* TREE_CONNECT */
    return;
  }
}

/* Reads every whole frame (4-byte length, then one SMB1 header or one or more chained
 * SMB2 headers) in the bytes seen so far. From the client, counts the SMB2 requests by
 * command; with a profile, notes when each request arrived (when) and, from the server,
 * when its answer reaches the client. An SMB1 frame (only the first negotiate, here)
 * counts for the profile under message id 0, the id of the SMB2 answer it gets. */
static void parse_frames(struct direction* d, const unsigned char* data, size_t size, long when) {
  d->parse = realloc(d->parse, d->parsed + size);
  memcpy(d->parse + d->parsed, data, size);
  d->parsed += size;
  size_t at = 0;
  while (d->parsed - at >= 4) {
    size_t length = ((size_t)d->parse[at + 1] << 16) | ((size_t)d->parse[at + 2] << 8) | d->parse[at + 3];
    if (d->parsed - at - 4 < length) break;
    const unsigned char* frame = d->parse + at + 4;
    if (ProfilePath && length >= 32 && memcmp(frame, "\xffSMB", 4) == 0) {
      if (d->count) request_sent(d->connection, 0, 19, when);
      else answer_delivered(d->connection, 0, 0, when);
    }
    size_t offset = 0;
    while (offset + 24 <= length && memcmp(frame + offset, "\xfeSMB", 4) == 0) {
      const unsigned char* header = frame + offset;
      unsigned command = header[12] | (header[13] << 8);
      if (d->count && command < 19) Requests[command]++;
      if (ProfilePath && offset + 64 <= length) {
        uint32_t status = header[8] | (header[9] << 8) | (header[10] << 16) | ((uint32_t)header[11] << 24);
        uint64_t id = le64(header + 24);
        if (d->count) request_sent(d->connection, id, command, when);
        else if (status != 0x103) answer_delivered(d->connection, id, command, when);  /* not STATUS_PENDING */
      }
      uint32_t next = header[20] | (header[21] << 8) | (header[22] << 16) | ((uint32_t)header[23] << 24);
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
    /* A request is in flight from now; an answer reaches the client when it is due. */
    if (d->count || ProfilePath) parse_frames(d, buffer, (size_t)n, d->count ? ns_of(&c->due) - DelayNs : ns_of(&c->due));
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
  struct connection* connection = calloc(1, sizeof *connection);
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  *connection = (struct connection){.number = (int)ConnectionCount + 1, .opened_ns = ns_of(&now), .set_up_ns = -1};
  if (StartNs < 0) StartNs = connection->opened_ns;
  Connections = realloc(Connections, (ConnectionCount + 1) * sizeof *Connections);
  Connections[ConnectionCount++] = connection;  /* kept for the profile */
  struct direction* up = calloc(1, sizeof *up);
  struct direction* down = calloc(1, sizeof *down);
  *up = (struct direction){.from = client, .to = server, .count = 1, .connection = connection, .other = down};
  *down = (struct direction){.from = server, .to = client, .connection = connection, .other = up};
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

static int by_connection_then_start(const void* a, const void* b) {
  const struct interval* x = a;
  const struct interval* y = b;
  if (x->connection != y->connection) return x->connection - y->connection;
  return (x->from_ns > y->from_ns) - (x->from_ns < y->from_ns);
}

static double ms(long ns) { return ns / 1e6; }

/* Writes the profile described at the top of this file. */
static void write_profile(void) {
  FILE* out = fopen(ProfilePath, "w");
  if (!out) {
    perror(ProfilePath);
    return;
  }
  long end = StartNs;
  for (size_t i = 0; i < IntervalCount; ++i)
    if (Intervals[i].to_ns > end) end = Intervals[i].to_ns;
  double total = 0;
  for (size_t i = 0; i < IntervalCount; ++i) total += (double)(Intervals[i].to_ns - Intervals[i].from_ns);
  fprintf(out, "connections %zu\nrequests %zu\nspan_ms %.1f\nmean_in_flight %.2f\n", ConnectionCount, IntervalCount,
          ms(end - StartNs), end > StartNs ? total / (double)(end - StartNs) : 0.0);
  /* Per connection: the time with at least one request in flight, the union of its intervals. */
  qsort(Intervals, IntervalCount, sizeof *Intervals, by_connection_then_start);
  fprintf(out, "# connection opened_ms set_up_ms requests busy_ms last_answer_ms\n");
  size_t i = 0;
  for (size_t k = 0; k < ConnectionCount; ++k) {
    struct connection* c = Connections[k];
    long busy = 0, covered = 0, last = c->opened_ns;
    for (; i < IntervalCount && Intervals[i].connection == c->number; ++i) {
      long from = Intervals[i].from_ns > covered ? Intervals[i].from_ns : covered;
      if (Intervals[i].to_ns > from) busy += Intervals[i].to_ns - from;
      if (Intervals[i].to_ns > covered) covered = Intervals[i].to_ns;
      if (Intervals[i].to_ns > last) last = Intervals[i].to_ns;
    }
    fprintf(out, "connection %d %.1f %.1f %ld %.1f %.1f\n", c->number, ms(c->opened_ns - StartNs),
            c->set_up_ns < 0 ? -1.0 : ms(c->set_up_ns - StartNs), c->requests, ms(busy), ms(last - StartNs));
  }
  /* Requests in flight per 10 ms: the mean over the bin, from each request's overlap with it. */
  const long bin = 10000000L;
  size_t bins = (size_t)((end - StartNs) / bin) + 1;
  double* in_flight = calloc(bins, sizeof *in_flight);
  for (size_t j = 0; j < IntervalCount; ++j) {
    long from = Intervals[j].from_ns - StartNs, to = Intervals[j].to_ns - StartNs;
    for (long b = from / bin; b * bin < to && (size_t)b < bins; ++b) {
      long lo = from > b * bin ? from : b * bin, hi = to < (b + 1) * bin ? to : (b + 1) * bin;
      in_flight[b] += (double)(hi - lo) / (double)bin;
    }
  }
  fprintf(out, "# bin_start_ms mean_requests_in_flight\n");
  for (size_t b = 0; b < bins; ++b) fprintf(out, "in_flight %zu %.2f\n", b * 10, in_flight[b]);
  free(in_flight);
  fprintf(out, "# connection command sent_ms answered_ms\n");
  for (size_t j = 0; j < IntervalCount; ++j)
    fprintf(out, "request %d %s %.2f %.2f\n", Intervals[j].connection,
            Intervals[j].command < 19 ? CommandNames[Intervals[j].command] : "SMB1",
            ms(Intervals[j].from_ns - StartNs), ms(Intervals[j].to_ns - StartNs));
  fclose(out);
}

/* Prints the counts (and writes the profile), then ends. */
static void report(void) {
  long total = 0;
  for (int i = 0; i < 19; ++i) total += Requests[i];
  printf("requests %ld\n", total);
  for (int i = 0; i < 19; ++i)
    if (Requests[i]) printf("%s %ld\n", CommandNames[i], Requests[i]);
  fflush(stdout);
  if (ProfilePath && StartNs >= 0) write_profile();
  _exit(0);
}

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT DELAY_US [PROFILE_FILE]\n", argv[0]);
    return 2;
  }
  if (argc == 5) ProfilePath = argv[4];
  TargetPort = atoi(argv[2]);
  DelayNs = atol(argv[3]) * 1000L;
  signal(SIGPIPE, SIG_IGN);
  static sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, NULL);
  int stop_fd = signalfd(-1, &stop, SFD_CLOEXEC);
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
  static char listen_mark, timer_mark, stop_mark;
  struct epoll_event event = {.events = EPOLLIN, .data.ptr = &listen_mark};
  epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
  event.data.ptr = &timer_mark;
  epoll_ctl(epoll, EPOLL_CTL_ADD, timer, &event);
  event.data.ptr = &stop_mark;
  epoll_ctl(epoll, EPOLL_CTL_ADD, stop_fd, &event);
  for (;;) {
    struct epoll_event events[64];
    int n = epoll_wait(epoll, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      void* what = events[i].data.ptr;
      if (what == &stop_mark) {
        report();  /* SIGTERM or SIGINT */
      } else if (what == &listen_mark) {
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
