'use strict';
// Shows the shared screen that kwz-web passes on: block screens are rebuilt here (zlib blocks
// inflated by DecompressionStream, JPEG blocks by the browser's image decoder), video frames
// are decoded by WebCodecs. Each WebSocket message is one screen message behind a flags byte;
// text messages are the gateway's status.
(() => {
  const FLAGS = 1;
  const HEADER = 29;
  const MAGIC = 0x5A51;
  const BLOCK = 100;
  const FLAG_KEY = 0x01;
  const MODE_NAMES = ['geometry', 'zlib', 'JPEG', 'MPEG-4', 'H.264', 'VP8', 'VP9'];
  const CODECS = {4: 'avc1.640028', 5: 'vp8', 6: 'vp09.00.10.08'};
  const CAPS_BITS = {4: 1, 5: 2, 6: 4};
  const CAPS_NAMES = {h264: 4, vp8: 5, vp9: 6};
  // A browser that falls this far behind skips to the next key frame.
  const MAX_DECODE_QUEUE = 16;

  const params = new URLSearchParams(location.search);
  const token = params.get('token') || '';
  const $ = (id) => document.getElementById(id);
  const screen = $('screen');
  const cursorCanvas = $('cursor');
  const statusLine = $('status');
  const fitBox = $('fit');
  const controlButton = $('control');
  const viewport = $('viewport');
  const screenCtx = screen.getContext('2d');
  const cursorCtx = cursorCanvas.getContext('2d');

  const state = {
    connected: false, mode: -1, source: -1, bpp: 0, width: 0, height: 0, frames: 0,
    lost: 0, received: 0, browsers: 0, control: 'off',
  };

  // The 3-3-2 palette of 8-bit screens, as RGBA words.
  const palette = new Uint32Array(256);
  for (let i = 0; i < 256; ++i) {
    const r = Math.floor(((i >> 5) * 255) / 7);
    const g = Math.floor((((i >> 2) & 7) * 255) / 7);
    const b = Math.floor(((i & 3) * 255) / 3);
    palette[i] = (0xFF000000 | (b << 16) | (g << 8) | r) >>> 0;
  }

  // ---- the screen's size and the layout -------------------------------------------------

  function setScreenSize(width, height) {
    state.width = width;
    state.height = height;
    if (screen.width === width && screen.height === height) return;
    screen.width = cursorCanvas.width = width;
    screen.height = cursorCanvas.height = height;
    layout();
    drawCursor();
    if (blocks) schedulePaint();
  }

  function layout() {
    const w = screen.width;
    const h = screen.height;
    let scale = 1;
    if (fitBox.checked && w > 0 && h > 0) {
      scale = Math.min(viewport.clientWidth / w, viewport.clientHeight / h);
    }
    viewport.classList.toggle('fit', fitBox.checked);
    for (const canvas of [screen, cursorCanvas]) {
      canvas.style.width = `${w * scale}px`;
      canvas.style.height = `${h * scale}px`;
    }
  }
  window.addEventListener('resize', layout);
  fitBox.addEventListener('change', layout);

  // ---- painting and the frame rate ----------------------------------------------------------

  const paintTimes = [];
  // When the last pictures were painted, in Unix milliseconds, for measuring latency.
  const paints = [];
  function countPicture() {
    state.frames++;
    const now = performance.now();
    paintTimes.push(now);
    while (paintTimes.length && now - paintTimes[0] > 1000) paintTimes.shift();
    paints.push(performance.timeOrigin + now);
    if (paints.length > 1000) paints.shift();
  }

  // A block screen is painted at most once a frame interval, however many blocks arrive in it,
  // as the receiver paints it. Hidden pages get no animation frames; the timer keeps them
  // painting, only less often.
  const BLOCK_PAINT_INTERVAL = 100;
  let paintPending = false;
  let lastPaint = -BLOCK_PAINT_INTERVAL;
  function schedulePaint() {
    if (paintPending) return;
    paintPending = true;
    const wait = Math.max(0, lastPaint + BLOCK_PAINT_INTERVAL - performance.now());
    setTimeout(() => requestAnimationFrame(paint), wait);
    setTimeout(paint, wait + 100);
  }
  function paint() {
    if (!paintPending) return;
    paintPending = false;
    lastPaint = performance.now();
    if (!blocks) return;
    screenCtx.putImageData(blocks.image, 0, 0, 0, 0, state.width, state.height);
    countPicture();
  }

  // ---- block screens ------------------------------------------------------------------------

  // The padded bitmap of a block screen, upright: row 0 is the top row of the padded picture,
  // so the screen is its top-left corner and the padding lies right and below.
  let blocks = null;

  function prepareBlocks(f) {
    const pw = Math.ceil(f.width / BLOCK) * BLOCK;
    const ph = Math.ceil(f.height / BLOCK) * BLOCK;
    if (blocks && blocks.bpp === f.bpp && blocks.pw === pw && blocks.ph === ph) return blocks;
    closeVideo();
    blocks = null;
    if (pw === 0 || ph === 0) return null;
    let image;
    try {
      image = new ImageData(pw, ph);
    } catch (e) {
      return null;  // larger than this browser can hold
    }
    const pixels = new Uint32Array(image.data.buffer);
    pixels.fill(0xFFFFFFFF);  // a new screen starts white
    const perRow = pw / BLOCK;
    const count = perRow * (ph / BLOCK);
    blocks = {bpp: f.bpp, pw, ph, image, pixels, perRow, count, serial: new Uint32Array(count)};
    return blocks;
  }

  // JPEG blocks carry video-range YCbCr (luma 16 to 235) under a JPEG's full-range label: the
  // receiver converts them as video range, a browser's image decoder as full range. Stretching
  // the browser's result from 16..235 to 0..255 shows what the receiver shows.
  const VIDEO_RANGE = new Uint8Array(256);
  for (let v = 0; v < 256; ++v) {
    VIDEO_RANGE[v] = Math.max(0, Math.min(255, Math.round(((v - 16) * 255) / 219)));
  }

  // Puts a decoded block in place. Its rows come bottom row first, as the presenter's bitmap
  // keeps them; kind is 1 (palette indices), 4 (BGRA) or 'rgba' (a decoded JPEG's pixels).
  function placeBlock(b, index, data, kind) {
    const col = (index % b.perRow) * BLOCK;
    const memoryRow = Math.floor(index / b.perRow) * BLOCK;
    const step = kind === 1 ? 1 : 4;
    const rows = Math.min(BLOCK, Math.floor(data.length / (BLOCK * step)));
    for (let by = 0; by < rows; ++by) {
      const out = (b.ph - 1 - (memoryRow + by)) * b.pw + col;
      let at = by * BLOCK * step;
      if (kind === 1) {
        for (let x = 0; x < BLOCK; ++x) b.pixels[out + x] = palette[data[at + x]];
      } else if (kind === 4) {
        for (let x = 0; x < BLOCK; ++x, at += 4) {
          b.pixels[out + x] = (0xFF000000 | (data[at] << 16) | (data[at + 1] << 8) | data[at + 2]) >>> 0;
        }
      } else {
        const r = VIDEO_RANGE;
        for (let x = 0; x < BLOCK; ++x, at += 4) {
          b.pixels[out + x] = (0xFF000000 | (r[data[at + 2]] << 16) | (r[data[at + 1]] << 8) | r[data[at]]) >>> 0;
        }
      }
    }
    schedulePaint();
  }

  // zlib's bound on a stream's size for this many bytes: a block that inflates to more than
  // that is dropped, as the receiver's buffer would not hold it.
  const compressBound = (n) => n + (n >> 12) + (n >> 14) + 11;

  async function inflate(bytes, limit) {
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate'));
    const reader = stream.getReader();
    const out = new Uint8Array(limit);
    let length = 0;
    for (;;) {
      const {done, value} = await reader.read();
      if (done) return out.subarray(0, length);
      if (length + value.length > limit) {
        reader.cancel();
        return null;
      }
      out.set(value, length);
      length += value.length;
    }
  }

  const jpegCanvas = new OffscreenCanvas(BLOCK, BLOCK);
  const jpegCtx = jpegCanvas.getContext('2d', {willReadFrequently: true});
  async function decodeJpeg(bytes) {
    const bitmap = await createImageBitmap(new Blob([bytes], {type: 'image/jpeg'}),
                                           {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
    try {
      if (bitmap.width !== BLOCK || bitmap.height !== BLOCK) return null;
      jpegCtx.drawImage(bitmap, 0, 0);
      return jpegCtx.getImageData(0, 0, BLOCK, BLOCK).data;
    } finally {
      bitmap.close();
    }
  }

  function onBlockMessage(f, body) {
    const b = prepareBlocks(f);
    if (!b) return;
    setScreenSize(f.width, f.height);
    schedulePaint();
    if (f.mode === 0 || f.blockIndex >= b.count) return;
    // Blocks decode asynchronously: a block that finishes after a newer one of the same place
    // is dropped.
    const serial = ++b.serial[f.blockIndex];
    const apply = (data, kind) => {
      if (data && blocks === b && b.serial[f.blockIndex] === serial) placeBlock(b, f.blockIndex, data, kind);
    };
    const blockBytes = BLOCK * BLOCK * f.bpp;
    if (f.mode === 1 && (f.bpp === 1 || f.bpp === 4)) {
      inflate(body, compressBound(blockBytes)).then((d) => apply(d, f.bpp), () => {});
    } else if (f.mode === 2 && f.bpp === 4) {
      decodeJpeg(body).then((d) => apply(d, 'rgba'), () => {});
    }
  }

  // ---- video frames -------------------------------------------------------------------------

  let video = null;

  function closeVideo() {
    if (!video) return;
    try {
      video.decoder.close();
    } catch (e) {
      // already closed by an error
    }
    video = null;
  }

  function openVideo(f, id) {
    const v = {id, bpp: f.bpp, width: f.width, height: f.height, needKey: false, timestamp: 0};
    v.decoder = new VideoDecoder({
      output: (frame) => {
        if (video === v) drawVideoFrame(v, frame);
        frame.close();
      },
      error: () => {
        if (video === v) video = null;
      },
    });
    try {
      // The presenter converts with BT.601's video-range matrix and says nothing of it in the
      // stream; a browser would otherwise guess BT.709.
      v.decoder.configure({codec: CODECS[f.mode], codedWidth: Math.ceil(f.width / 16) * 16,
                           codedHeight: Math.ceil(f.height / 16) * 16, optimizeForLatency: true,
                           colorSpace: {primaries: 'smpte170m', transfer: 'smpte170m',
                                        matrix: 'smpte170m', fullRange: false}});
    } catch (e) {
      return null;
    }
    return v;
  }

  function drawVideoFrame(v, frame) {
    const {width, height} = v;
    const frameHeight = frame.displayHeight;
    if (frame.displayWidth < width || frameHeight < height) return;
    setScreenSize(width, height);
    if (v.bpp === 4) {
      // 32-bit frames are coded bottom row first, as the bitmap keeps them, with the padding
      // rows at the start.
      screenCtx.setTransform(1, 0, 0, -1, 0, height);
      screenCtx.drawImage(frame, 0, frameHeight - height, width, height, 0, 0, width, height);
      screenCtx.setTransform(1, 0, 0, 1, 0, 0);
    } else {
      screenCtx.drawImage(frame, 0, 0, width, height, 0, 0, width, height);
    }
    countPicture();
  }

  // VP8 and VP9 frames may start with a word marking a key (00 00 01 10) or an inter frame
  // (FF FF FE EF), which is not part of the coded frame.
  function hasVpxMarker(b) {
    return b.length >= 4 && ((b[0] === 0 && b[1] === 0 && b[2] === 1 && b[3] === 0x10) ||
                             (b[0] === 0xFF && b[1] === 0xFF && b[2] === 0xFE && b[3] === 0xEF));
  }

  function onVideoMessage(f, body, key) {
    if (!CODECS[f.mode] || typeof VideoDecoder === 'undefined') return;
    const id = `${f.mode}/${f.bpp}/${Math.ceil(f.width / 16)}/${Math.ceil(f.height / 16)}`;
    if (!video || video.id !== id) {
      if (!key) return;  // nothing to start from yet
      closeVideo();
      blocks = null;
      video = openVideo(f, id);
      if (!video) return;
    }
    video.width = f.width;
    video.height = f.height;
    if (!key && (video.needKey || video.decoder.decodeQueueSize > MAX_DECODE_QUEUE)) {
      video.needKey = true;
      return;
    }
    video.needKey = false;
    if (f.mode >= 5 && hasVpxMarker(body)) body = body.subarray(4);
    try {
      video.decoder.decode(new EncodedVideoChunk({type: key ? 'key' : 'delta',
                                                  timestamp: video.timestamp++, data: body}));
    } catch (e) {
      video.needKey = true;
    }
  }

  // ---- the presenter's cursor ---------------------------------------------------------------

  const cursor = {x: 0xFFE0, y: 0xFFE0};
  // An arrow whose tip is its hot spot.
  const ARROW = [[0, 0], [0, 17], [4, 13], [7, 20], [10, 19], [7, 12], [12, 12]];

  function drawCursor() {
    cursorCtx.clearRect(0, 0, cursorCanvas.width, cursorCanvas.height);
    // Positions are signed 16-bit: the no-cursor value 0xFFE0 is -32 and never drawn.
    const x = (cursor.x << 16) >> 16;
    const y = (cursor.y << 16) >> 16;
    if (x < 0 || y < 0 || x > state.width || y > state.height) return;
    cursorCtx.beginPath();
    ARROW.forEach(([dx, dy], i) => (i ? cursorCtx.lineTo(x + dx, y + dy) : cursorCtx.moveTo(x + dx, y + dy)));
    cursorCtx.closePath();
    cursorCtx.fillStyle = '#fff';
    cursorCtx.strokeStyle = '#000';
    cursorCtx.fill();
    cursorCtx.stroke();
  }

  // ---- messages from the gateway ------------------------------------------------------------

  function onScreenMessage(bytes) {
    if (bytes.length < FLAGS + HEADER) return;
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const h = FLAGS;
    if (view.getUint16(h, true) !== MAGIC) return;
    const f = {
      mode: bytes[h + 2], bpp: bytes[h + 3],
      width: view.getUint16(h + 6, true), height: view.getUint16(h + 8, true),
      cursorX: view.getUint16(h + 20, true), cursorY: view.getUint16(h + 22, true),
      blockIndex: view.getUint16(h + 25, true),
    };
    const body = bytes.subarray(FLAGS + HEADER);
    if (body.length !== view.getUint16(h + 27, true) || f.mode >= MODE_NAMES.length) return;
    state.mode = f.mode;
    state.bpp = f.bpp * 8;
    if (f.mode <= 2) {
      onBlockMessage(f, body);
    } else {
      onVideoMessage(f, body, (bytes[0] & FLAG_KEY) !== 0);
    }
    if (cursor.x !== f.cursorX || cursor.y !== f.cursorY) {
      cursor.x = f.cursorX;
      cursor.y = f.cursorY;
      drawCursor();
    }
  }

  function onStatus(text) {
    let status;
    try {
      status = JSON.parse(text);
    } catch (e) {
      return;
    }
    if (status.type !== 'status') return;
    state.source = status.source;
    state.lost = status.lost;
    state.received = status.received;
    state.browsers = status.browsers;
    state.control = status.control;
    controlButton.hidden = state.control === 'off';
    controlButton.disabled = state.control === 'other';
    controlButton.textContent = state.control === 'you' ? 'Release control' : 'Take control';
    viewport.classList.toggle('controlling', state.control === 'you');
    showStatus();
  }

  function showStatus() {
    const parts = [];
    if (!state.connected) {
      parts.push('not connected');
    } else if (state.mode < 0) {
      parts.push('waiting for the stream');
    } else {
      // Video that this browser cannot decode arrives as blocks; the source's coding is named.
      const source = state.source >= 0 ? state.source : state.mode;
      const recoded = source !== state.mode && source >= 3 ? ' (decoded by the gateway)' : '';
      parts.push(`${state.width}\u00D7${state.height}`, `${MODE_NAMES[source]}${recoded}`,
                 `${paintTimes.length} fps`);
    }
    parts.push(`lost ${state.lost} of ${state.lost + state.received} datagrams`,
               `${state.browsers} browser${state.browsers === 1 ? '' : 's'}`);
    if (state.control === 'other') parts.push('another browser has control');
    statusLine.textContent = parts.join(' \u00B7 ');
  }
  setInterval(showStatus, 1000);

  // ---- the connection -------------------------------------------------------------------------

  // Video codecs this browser decodes; the gateway re-codes the others as blocks. The page's
  // "codecs" parameter narrows them (codecs=none: all video as blocks).
  async function codecCaps() {
    if (typeof VideoDecoder === 'undefined') return 0;
    const allowed = params.has('codecs') ? params.get('codecs').split(',') : Object.keys(CAPS_NAMES);
    let caps = 0;
    for (const name of allowed) {
      const mode = CAPS_NAMES[name];
      if (!mode) continue;
      try {
        const answer = await VideoDecoder.isConfigSupported(
            {codec: CODECS[mode], codedWidth: 1920, codedHeight: 1088});
        if (answer.supported) caps |= CAPS_BITS[mode];
      } catch (e) {
        // not offered
      }
    }
    return caps;
  }

  let socket = null;
  function send(buffer) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(buffer);
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
    socket = new WebSocket(`${scheme}://${location.host}/ws?token=${encodeURIComponent(token)}`);
    socket.binaryType = 'arraybuffer';
    socket.onopen = async () => {
      state.connected = true;
      send(new Uint8Array([1, await codecCaps()]));
      showStatus();
    };
    socket.onclose = () => {
      state.connected = false;
      closeVideo();
      showStatus();
      setTimeout(connect, 1000);
    };
    socket.onmessage = (e) => {
      if (typeof e.data === 'string') {
        onStatus(e.data);
      } else {
        onScreenMessage(new Uint8Array(e.data));
      }
    };
  }

  // ---- remote control -------------------------------------------------------------------------

  const controlling = () => state.control === 'you';
  controlButton.addEventListener('click', () => {
    send(new Uint8Array([2, controlling() ? 0 : 1]));
    viewport.focus();
  });

  function screenPoint(e) {
    const r = screen.getBoundingClientRect();
    if (r.width === 0 || r.height === 0) return [0, 0];
    return [Math.floor(((e.clientX - r.left) * screen.width) / r.width),
            Math.floor(((e.clientY - r.top) * screen.height) / r.height)];
  }

  // action: 0 move, 1 press, 2 release, 3 double-click; button as MouseEvent.button.
  function sendPointer(action, button, e) {
    const [x, y] = screenPoint(e);
    const message = new DataView(new ArrayBuffer(12));
    message.setUint8(0, 3);
    message.setUint8(1, action);
    message.setUint8(2, button);
    message.setInt32(4, x, true);
    message.setInt32(8, y, true);
    send(message.buffer);
  }

  screen.addEventListener('mousedown', (e) => {
    if (!controlling() || e.button > 2) return;
    e.preventDefault();
    viewport.focus();
    // Every second press of a run is a double-click, as a desktop counts them.
    sendPointer(e.detail >= 2 && e.detail % 2 === 0 ? 3 : 1, e.button, e);
  });
  screen.addEventListener('mouseup', (e) => {
    if (!controlling() || e.button > 2) return;
    e.preventDefault();
    sendPointer(2, e.button, e);
  });
  screen.addEventListener('mousemove', (e) => {
    if (controlling()) sendPointer(0, 0, e);
  });
  screen.addEventListener('contextmenu', (e) => {
    if (controlling()) e.preventDefault();
  });

  const encoder = new TextEncoder();
  function onKey(e, phase) {
    if (!controlling()) return;
    e.preventDefault();
    const code = encoder.encode(e.code || '');
    if (code.length === 0 || code.length > 32) return;
    // The character the key gives, when it gives exactly one (one or two UTF-16 units).
    let units = '';
    let count = 0;
    if (e.key === 'Dead') {
      count = 0xFF;
    } else if ([...e.key].length === 1) {
      units = e.key;
      count = units.length;
    }
    const mods = (e.ctrlKey ? 1 : 0) | (e.altKey ? 2 : 0) | (e.shiftKey ? 4 : 0) |
                 (e.repeat ? 8 : 0) | (e.getModifierState('AltGraph') ? 16 : 0);
    const message = new Uint8Array(4 + code.length + 1 + units.length * 2);
    message.set([4, phase, mods, code.length]);
    message.set(code, 4);
    message[4 + code.length] = count;
    for (let i = 0; i < units.length; ++i) {
      const unit = units.charCodeAt(i);
      message[5 + code.length + 2 * i] = unit & 0xFF;
      message[6 + code.length + 2 * i] = unit >> 8;
    }
    send(message);
  }
  viewport.addEventListener('keydown', (e) => onKey(e, 0));
  viewport.addEventListener('keyup', (e) => onKey(e, 1));

  window.kwz = {state: () => ({...state}), paints: () => paints.slice()};
  layout();
  showStatus();
  connect();
})();
