// Added to every new document before the page's own scripts: records each
// picture the page's live video presents (requestVideoFrameCallback), with
// the times the browser gives and the number the picture shows, read from
// the seven-segment digits vb-camera draws (tools/vb-camera/test_picture.cpp).
(() => {
  const probe = window.__probe = { frames: 0, width: 0, height: 0, firstPresented: null, shown: [] };
  const SEGMENTS = [0x7E, 0x30, 0x6D, 0x79, 0x33, 0x5B, 0x5F, 0x70, 0x7F, 0x7B];
  const DIGITS = 6;
  const canvas = document.createElement('canvas');
  const context = canvas.getContext('2d', { willReadFrequently: true });

  function shownNumber(height) {
    const h = Math.floor(height / 6), w = Math.floor(h / 2), t = Math.max(2, Math.floor(h / 8));
    const gap = Math.floor(w / 3), left = Math.floor(h / 4), top = Math.floor(h / 4);
    const span = left + DIGITS * (w + gap);
    const pixels = context.getImageData(0, 0, span, top + h).data;
    const lit = (x, y) => pixels[(Math.floor(y) * span + Math.floor(x)) * 4 + 1] > 128;
    let n = 0;
    for (let d = 0; d < DIGITS; d++) {
      const x = left + d * (w + gap), y = top;
      const centres = [[x + w / 2, y + t / 2], [x + w - t / 2, y + h / 4], [x + w - t / 2, y + 3 * h / 4],
        [x + w / 2, y + h - t / 2], [x + t / 2, y + 3 * h / 4], [x + t / 2, y + h / 4], [x + w / 2, y + h / 2]];
      let bits = 0;
      centres.forEach(([cx, cy], i) => { if (lit(cx, cy)) bits |= 0x40 >> i; });
      const digit = SEGMENTS.indexOf(bits);
      if (digit < 0) return -1;
      n = n * 10 + digit;
    }
    return n;
  }

  function onFrame(now, meta) {
    const video = document.getElementById('live');
    probe.frames++;
    probe.width = meta.width;
    probe.height = meta.height;
    if (probe.firstPresented === null) probe.firstPresented = meta.presentationTime;
    if (canvas.width !== meta.width || canvas.height !== meta.height) {
      canvas.width = meta.width;
      canvas.height = meta.height;
    }
    context.drawImage(video, 0, 0, meta.width, meta.height);
    probe.shown.push([shownNumber(meta.height), performance.timeOrigin + meta.presentationTime,
      performance.timeOrigin + meta.expectedDisplayTime]);
    video.requestVideoFrameCallback(onFrame);
  }

  document.addEventListener('DOMContentLoaded', () => {
    document.getElementById('live').requestVideoFrameCallback(onFrame);
  });
})();
