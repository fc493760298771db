// The service's event stream and the page's view of the connection. At
// every (re)connect a fresh single-use ticket (POST /api/v1/tickets) opens
// an EventSource on /api/v1/events; the number of the last event seen goes
// along as lastEventId= so nothing is missed across a reconnect (the service
// answers a reset when it no longer has them). Any error closes the stream
// and retries with a growing pause (0.5 s doubling up to 5 s); the caller
// hears lost() at once and connected() when a stream is open again, and
// re-reads what it shows then.
import { call, ApiError } from './api.js';

const kFirstPause = 500;
const kLongestPause = 5000;

export class Stream {
  constructor({ onEvent, connected, lost, unauthorised }) {
    this.handlers = { onEvent, connected, lost, unauthorised };
    this.source = null;
    this.lastId = null;
    this.pause = kFirstPause;
    this.timer = null;
    this.up = false;
    this.connecting = false;
    this.stopped = true;
  }

  start() {
    this.stopped = false;
    this.connect();
  }

  stop() {
    this.stopped = true;
    this.up = false;
    clearTimeout(this.timer);
    this.timer = null;
    if (this.source) this.source.close();
    this.source = null;
  }

  // Something else (a failed fetch) saw the service gone.
  failed(cause) {
    if (this.stopped || this.timer || this.connecting) return;
    this.down(cause);
  }

  async connect() {
    this.timer = null;
    if (this.stopped) return;
    let ticket;
    this.connecting = true;
    try {
      ticket = (await call('POST', '/api/v1/tickets')).body.ticket;
    } catch (e) {
      this.connecting = false;
      if (e instanceof ApiError && e.status === 401) {
        this.stop();
        this.handlers.unauthorised();
        return;
      }
      this.down(e.message);
      return;
    }
    this.connecting = false;
    if (this.stopped) return;
    const resume = this.lastId !== null ? `&lastEventId=${encodeURIComponent(this.lastId)}` : '';
    const source = new EventSource(`/api/v1/events?ticket=${ticket}${resume}`);
    this.source = source;
    source.onopen = () => {
      if (source !== this.source) return;
      this.pause = kFirstPause;
      this.up = true;
      this.handlers.connected();
    };
    source.onmessage = (message) => {
      if (source !== this.source) return;
      if (message.lastEventId) this.lastId = message.lastEventId;
      let event;
      try { event = JSON.parse(message.data); } catch { return; }
      this.handlers.onEvent(event);
    };
    // The browser would retry with the same ticket, which is good once: we
    // retry ourselves with a new one.
    source.onerror = () => {
      if (source !== this.source) return;
      this.down('event stream closed');
    };
  }

  down(cause) {
    if (this.source) this.source.close();
    this.source = null;
    this.up = false;
    const pause = this.pause;
    this.pause = Math.min(this.pause * 2, kLongestPause);
    this.handlers.lost(cause, pause);
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.connect(), pause);
  }
}
