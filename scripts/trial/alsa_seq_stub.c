/* A stand-in ALSA sequencer for trying MIDI-capable hosts (Qtractor) on a machine
   without /dev/snd/seq (containers, CI): every sequencer call on the handle
   succeeds and no MIDI event ever arrives. The info-structure accessors stay
   alsa-lib's. Built and preloaded by qtractor.sh. */
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <alsa/asoundlib.h>

struct fake { int fds[2]; int next_port; int queue; };

int snd_seq_open(snd_seq_t **seq, const char *name, int streams, int mode) {
    (void)name; (void)streams; (void)mode;
    struct fake *f = calloc(1, sizeof *f);
    if (!f || pipe(f->fds) != 0) return -ENOMEM;
    *seq = (snd_seq_t *)f;
    return 0;
}
int snd_seq_close(snd_seq_t *seq) { struct fake *f = (struct fake *)seq; close(f->fds[0]); close(f->fds[1]); free(f); return 0; }
int snd_seq_client_id(snd_seq_t *seq) { (void)seq; return 128; }
int snd_seq_set_client_name(snd_seq_t *seq, const char *name) { (void)seq; (void)name; return 0; }
int snd_seq_alloc_queue(snd_seq_t *seq) { return ((struct fake *)seq)->queue; }
int snd_seq_free_queue(snd_seq_t *seq, int q) { (void)seq; (void)q; return 0; }
int snd_seq_control_queue(snd_seq_t *seq, int q, int type, int value, snd_seq_event_t *ev) { (void)seq; (void)q; (void)type; (void)value; (void)ev; return 0; }
int snd_seq_create_simple_port(snd_seq_t *seq, const char *name, unsigned int caps, unsigned int type) { (void)name; (void)caps; (void)type; return ((struct fake *)seq)->next_port++; }
int snd_seq_delete_simple_port(snd_seq_t *seq, int port) { (void)seq; (void)port; return 0; }
int snd_seq_drain_output(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_drop_input(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_drop_output(snd_seq_t *seq) { (void)seq; return 0; }
int snd_seq_event_input(snd_seq_t *seq, snd_seq_event_t **ev) { (void)seq; *ev = NULL; return -EAGAIN; }
int snd_seq_event_input_pending(snd_seq_t *seq, int fetch) { (void)seq; (void)fetch; return 0; }
int snd_seq_event_output(snd_seq_t *seq, snd_seq_event_t *ev) { (void)seq; (void)ev; return 0; }
int snd_seq_event_output_direct(snd_seq_t *seq, snd_seq_event_t *ev) { (void)seq; (void)ev; return 0; }
int snd_seq_get_any_client_info(snd_seq_t *seq, int client, snd_seq_client_info_t *info) { (void)seq; (void)client; (void)info; return -ENOENT; }
int snd_seq_get_any_port_info(snd_seq_t *seq, int client, int port, snd_seq_port_info_t *info) { (void)seq; (void)client; (void)port; (void)info; return -ENOENT; }
int snd_seq_get_port_info(snd_seq_t *seq, int port, snd_seq_port_info_t *info) { (void)seq; (void)port; (void)info; return 0; }
int snd_seq_set_port_info(snd_seq_t *seq, int port, snd_seq_port_info_t *info) { (void)seq; (void)port; (void)info; return 0; }
int snd_seq_get_queue_status(snd_seq_t *seq, int q, snd_seq_queue_status_t *s) { (void)seq; (void)q; (void)s; return 0; }
int snd_seq_get_queue_tempo(snd_seq_t *seq, int q, snd_seq_queue_tempo_t *t) { (void)seq; (void)q; (void)t; return 0; }
int snd_seq_set_queue_tempo(snd_seq_t *seq, int q, snd_seq_queue_tempo_t *t) { (void)seq; (void)q; (void)t; return 0; }
int snd_seq_set_queue_timer(snd_seq_t *seq, int q, snd_seq_queue_timer_t *t) { (void)seq; (void)q; (void)t; return 0; }
int snd_seq_poll_descriptors_count(snd_seq_t *seq, short events) { (void)seq; (void)events; return 1; }
int snd_seq_poll_descriptors(snd_seq_t *seq, struct pollfd *pfds, unsigned int space, short events) {
    if (space < 1) return 0;
    pfds[0].fd = ((struct fake *)seq)->fds[0]; pfds[0].events = events; pfds[0].revents = 0;
    return 1;
}
int snd_seq_query_next_client(snd_seq_t *seq, snd_seq_client_info_t *info) { (void)seq; (void)info; return -ENOENT; }
int snd_seq_query_next_port(snd_seq_t *seq, snd_seq_port_info_t *info) { (void)seq; (void)info; return -ENOENT; }
int snd_seq_query_port_subscribers(snd_seq_t *seq, snd_seq_query_subscribe_t *s) { (void)seq; (void)s; return -ENOENT; }
int snd_seq_remove_events(snd_seq_t *seq, snd_seq_remove_events_t *r) { (void)seq; (void)r; return 0; }
int snd_seq_subscribe_port(snd_seq_t *seq, snd_seq_port_subscribe_t *s) { (void)seq; (void)s; return 0; }
int snd_seq_unsubscribe_port(snd_seq_t *seq, snd_seq_port_subscribe_t *s) { (void)seq; (void)s; return 0; }
int snd_seq_free_event(snd_seq_event_t *ev) { (void)ev; return 0; }
