/* A TCP proxy on loopback that holds every chunk for exactly DELAY_US in each direction
 * (each chunk is sent at its arrival time plus the delay, an absolute deadline, so
 * chunks in flight overlap as on a real link) and counts the SMB2 requests that clients
 * send, by command. Stands in for network latency where the kernel has no netem.
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
#include <sys/socket.h>
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

/* One direction of one connection: a reader thread queues chunks, a writer sends them. */
struct direction {
  int from, to;
  int count;  /* client to server: parse and count SMB2 requests */
  pthread_mutex_t lock;
  pthread_cond_t ready;
  struct chunk *head, *tail;
  unsigned char* parse;  /* bytes of an unfinished frame */
  size_t parsed;
};

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

static void push(struct direction* d, struct chunk* c) {
  pthread_mutex_lock(&d->lock);
  if (d->tail) d->tail->next = c; else d->head = c;
  d->tail = c;
  pthread_cond_signal(&d->ready);
  pthread_mutex_unlock(&d->lock);
}

static void* reader(void* arg) {
  struct direction* d = arg;
  unsigned char buffer[65536];
  for (;;) {
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
    push(d, c);
    if (n <= 0) return NULL;
  }
}

static void* writer(void* arg) {
  struct direction* d = arg;
  for (;;) {
    pthread_mutex_lock(&d->lock);
    while (!d->head) pthread_cond_wait(&d->ready, &d->lock);
    struct chunk* c = d->head;
    d->head = c->next;
    if (!d->head) d->tail = NULL;
    pthread_mutex_unlock(&d->lock);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &c->due, NULL) != 0) {}
    size_t sent = 0;
    while (sent < c->size) {
      ssize_t n = write(d->to, c->data + sent, c->size - sent);
      if (n <= 0) break;
      sent += (size_t)n;
    }
    const int closing = c->size == 0;
    free(c);
    if (closing) {
      shutdown(d->to, SHUT_WR);
      return NULL;
    }
  }
}

static void* connection(void* arg) {
  int client = (int)(intptr_t)arg;
  int server = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((uint16_t)TargetPort)};
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(server, (struct sockaddr*)&to, sizeof to) != 0) {
    close(client);
    close(server);
    return NULL;
  }
  int one = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  struct direction up = {.from = client, .to = server, .count = 1}, down = {.from = server, .to = client};
  pthread_mutex_init(&up.lock, NULL);
  pthread_cond_init(&up.ready, NULL);
  pthread_mutex_init(&down.lock, NULL);
  pthread_cond_init(&down.ready, NULL);
  pthread_t threads[4];
  pthread_create(&threads[0], NULL, reader, &up);
  pthread_create(&threads[1], NULL, writer, &up);
  pthread_create(&threads[2], NULL, reader, &down);
  pthread_create(&threads[3], NULL, writer, &down);
  for (int i = 0; i < 4; ++i) pthread_join(threads[i], NULL);
  free(up.parse);
  close(client);
  close(server);
  return NULL;
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
  for (;;) {
    int client = accept(listener, NULL, NULL);
    if (client < 0) continue;
    pthread_t thread;
    pthread_create(&thread, NULL, connection, (void*)(intptr_t)client);
    pthread_detach(thread);
  }
}
