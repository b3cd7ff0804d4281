// The first-person view, drawn into one array of pixels per frame: floor and
// ceiling row by row, then a DDA walk over the grid for every screen column
// that stops at the first wall and remembers the obstacles it passed (they
// stop players, not sight), then the obstacles far to near with their holes,
// then the sprites far to near against the depth of every pixel.
(function (B) {
  "use strict";
  const SIDE = 66, T = 64, MAXOBS = 6;
  const FOG = [11, 12, 17];

  function create(art) {
    const r = {
      W: 0, H: 0, img: null, buf: null, zcol: null, zpix: null,
      obsN: null, obsD: null, obsTx: null, obsCh: null, obsSide: null,
      fov: 80, proj: 0, labels: [],
    };

    r.resize = function (ctx, W, H) {
      r.W = W; r.H = H;
      r.img = ctx.createImageData(W, H);
      r.buf = new Uint32Array(r.img.data.buffer);
      r.zcol = new Float32Array(W);
      r.zpix = new Float32Array(W * H);
      r.obsN = new Uint8Array(W);
      r.obsD = new Float32Array(W * MAXOBS);
      r.obsTx = new Uint8Array(W * MAXOBS);
      r.obsCh = new Uint8Array(W * MAXOBS);
      r.obsSide = new Uint8Array(W * MAXOBS);
    };

    // Light at a distance, 0 to 256 (256 = full colour, 0 = fog).
    function light(d) {
      const v = 1.12 - d * 0.075;
      return v >= 1 ? 256 : v <= 0.12 ? 31 : (v * 256) | 0;
    }

    // cam: {x, y} in map units, dir in degrees, eye height 0 to 1.
    // sprites: [{x, y (map units), tex, w, h, size (world height in cells),
    // lift (cells above the floor), bright, label, labelColour}].
    r.draw = function (world, cam, sprites) {
      const W = r.W, H = r.H, buf = r.buf, zcol = r.zcol, zpix = r.zpix;
      const half = H >> 1;
      const planeLen = Math.tan((r.fov * Math.PI) / 360);
      const proj = (r.proj = W / 2 / planeLen);
      const a = (cam.dir * Math.PI) / 180;
      const dirX = Math.cos(a), dirY = Math.sin(a);
      const planeX = -dirY * planeLen, planeY = dirX * planeLen;
      const posX = cam.x / T, posY = cam.y / T, eye = cam.eye;
      const fr = FOG[0], fg = FOG[1], fb = FOG[2], fogPix = 0xff000000 | (fb << 16) | (fg << 8) | fr;

      // Floor and ceiling, one row at a time: every pixel of a row lies at
      // the same distance.
      const rdx0 = dirX - planeX, rdy0 = dirY - planeY, rdx1 = dirX + planeX, rdy1 = dirY + planeY;
      const floors = art.floors, ceil = art.ceiling;
      for (let y = 0; y < H; y++) {
        const below = y >= half;
        const p = below ? y - half + 0.5 : half - y - 0.5;
        const dist = ((below ? eye : 1 - eye) * proj) / p;
        const f = light(dist);
        const row = y * W;
        if (f <= 31 && dist > 40) { buf.fill(fogPix, row, row + W); continue; }
        const sx = (dist * (rdx1 - rdx0)) / W, sy = (dist * (rdy1 - rdy0)) / W;
        let fx = posX + dist * rdx0, fy = posY + dist * rdy0;
        if (below) {
          for (let x = 0; x < W; x++) {
            const tx = (fx * T) | 0, ty = (fy * T) | 0;
            const tex = floors[((tx >> 6) + (ty >> 6)) & 1];
            const c = tex[((ty & 63) << 6) | (tx & 63)];
            buf[row + x] = 0xff000000 |
              ((fb + ((((c >> 16) & 255) - fb) * f >> 8)) << 16) |
              ((fg + ((((c >> 8) & 255) - fg) * f >> 8)) << 8) |
              (fr + (((c & 255) - fr) * f >> 8));
            fx += sx; fy += sy;
          }
        } else {
          for (let x = 0; x < W; x++) {
            const c = ceil[((((fy * T) | 0) & 63) << 6) | (((fx * T) | 0) & 63)];
            buf[row + x] = 0xff000000 |
              ((fb + ((((c >> 16) & 255) - fb) * f >> 8)) << 16) |
              ((fg + ((((c >> 8) & 255) - fg) * f >> 8)) << 8) |
              (fr + (((c & 255) - fr) * f >> 8));
            fx += sx; fy += sy;
          }
        }
      }

      // Walls, one column at a time.
      const cls = world.cls, chars = world.chars;
      const obsN = r.obsN, obsD = r.obsD, obsTx = r.obsTx, obsCh = r.obsCh, obsSide = r.obsSide;
      let anyObs = false;
      for (let x = 0; x < W; x++) {
        const camX = (2 * x) / W - 1;
        const rx = dirX + planeX * camX, ry = dirY + planeY * camX;
        let mx = posX | 0, my = posY | 0;
        const ddx = Math.abs(1 / rx), ddy = Math.abs(1 / ry);
        let stepX, stepY, sdx, sdy;
        if (rx < 0) { stepX = -1; sdx = (posX - mx) * ddx; } else { stepX = 1; sdx = (mx + 1 - posX) * ddx; }
        if (ry < 0) { stepY = -1; sdy = (posY - my) * ddy; } else { stepY = 1; sdy = (my + 1 - posY) * ddy; }
        let side = 0, c = 0, n = 0;
        for (;;) {
          if (sdx < sdy) { sdx += ddx; mx += stepX; side = 0; } else { sdy += ddy; my += stepY; side = 1; }
          if (mx < 0 || my < 0 || mx >= SIDE || my >= SIDE) { c = 1; break; }
          c = cls[mx * SIDE + my];
          if (c === 1) break;
          if (c === 2 && n < MAXOBS) {
            const d = side === 0 ? sdx - ddx : sdy - ddy;
            let wx = side === 0 ? posY + d * ry : posX + d * rx;
            wx -= Math.floor(wx);
            let tx = (wx * T) | 0;
            if ((side === 0 && rx < 0) || (side === 1 && ry > 0)) tx = T - 1 - tx;
            const k = x * MAXOBS + n;
            obsD[k] = d; obsTx[k] = tx; obsCh[k] = chars[mx * SIDE + my]; obsSide[k] = side;
            n++;
          }
        }
        obsN[x] = n;
        if (n) anyObs = true;
        const d = side === 0 ? sdx - ddx : sdy - ddy;
        zcol[x] = d;
        let wx = side === 0 ? posY + d * ry : posX + d * rx;
        wx -= Math.floor(wx);
        let tx = (wx * T) | 0;
        if ((side === 0 && rx < 0) || (side === 1 && ry > 0)) tx = T - 1 - tx;
        const inside = mx >= 1 && my >= 1 && mx <= 64 && my <= 64;
        const ch = inside ? chars[mx * SIDE + my] : 0;
        const tex = ch >= 65 && ch <= 90 ? art.wall(ch) : art.border;
        const f = (light(d) * (side ? 0.78 : 1)) | 0;
        const top = half - ((1 - eye) * proj) / d, bottom = half + (eye * proj) / d;
        const y0 = Math.max(0, Math.ceil(top)), y1 = Math.min(H, Math.ceil(bottom));
        const step = T / (bottom - top);
        let tp = (y0 - top) * step;
        const col = tx << 6;
        for (let y = y0; y < y1; y++) {
          const t = tex[col | ((tp | 0) & 63)];
          tp += step;
          buf[y * W + x] = 0xff000000 |
            ((fb + ((((t >> 16) & 255) - fb) * f >> 8)) << 16) |
            ((fg + ((((t >> 8) & 255) - fg) * f >> 8)) << 8) |
            (fr + (((t & 255) - fr) * f >> 8));
        }
      }

      // Obstacles, far to near in each column; their texels set the depth
      // of the pixel so that sprites behind them show only through holes.
      if (anyObs) zpix.fill(1e9);
      for (let x = 0; anyObs && x < W; x++) {
        for (let i = obsN[x] - 1; i >= 0; i--) {
          const k = x * MAXOBS + i, d = obsD[k];
          if (d < 0.05) continue;
          const tex = art.obstacle(obsCh[k]);
          const f = (light(d) * (obsSide[k] ? 0.8 : 1)) | 0;
          const top = half - ((1 - eye) * proj) / d, bottom = half + (eye * proj) / d;
          const y0 = Math.max(0, Math.ceil(top)), y1 = Math.min(H, Math.ceil(bottom));
          const step = T / (bottom - top);
          let tp = (y0 - top) * step;
          const col = obsTx[k] << 6;
          for (let y = y0; y < y1; y++) {
            const t = tex[col | ((tp | 0) & 63)];
            tp += step;
            if (t === 0) continue;
            const p = y * W + x;
            zpix[p] = d;
            buf[p] = 0xff000000 |
              ((fb + ((((t >> 16) & 255) - fb) * f >> 8)) << 16) |
              ((fg + ((((t >> 8) & 255) - fg) * f >> 8)) << 8) |
              (fr + (((t & 255) - fr) * f >> 8));
          }
        }
      }

      // Sprites, far to near.
      const invDet = 1 / (planeX * dirY - dirX * planeY);
      const list = [];
      for (const s of sprites) {
        const sx = s.x / T - posX, sy = s.y / T - posY;
        const depth = invDet * (-planeY * sx + planeX * sy);
        if (depth < 0.12) continue;
        const tX = invDet * (dirY * sx - dirX * sy);
        s._d = depth;
        s._sx = (W / 2) * (1 + tX / depth);
        list.push(s);
      }
      list.sort((p, q) => q._d - p._d);
      r.labels.length = 0;
      for (const s of list) {
        const d = s._d, scale = proj / d;
        const hgt = s.size * scale, wid = (hgt * s.w) / s.h;
        const bottom = half + ((eye - s.lift) * proj) / d, top = bottom - hgt;
        const left = s._sx - wid / 2;
        const x0 = Math.max(0, Math.ceil(left)), x1 = Math.min(W, Math.ceil(left + wid));
        const y0 = Math.max(0, Math.ceil(top)), y1 = Math.min(H, Math.ceil(bottom));
        if (x0 >= x1 || y0 >= y1) continue;
        const f = s.bright ? 256 : light(d);
        const tw = s.w, th = s.h, tex = s.tex;
        const sxs = tw / wid, sys = th / hgt;
        let seen = false;
        for (let x = x0; x < x1; x++) {
          if (d >= zcol[x]) continue;
          const tcol = ((((x - left) * sxs) | 0) < tw ? (((x - left) * sxs) | 0) : tw - 1) * th;
          const obs = obsN[x] > 0;
          let ty = (y0 - top) * sys;
          for (let y = y0; y < y1; y++, ty += sys) {
            const t = tex[tcol + (ty < th ? ty | 0 : th - 1)];
            if (t === 0) continue;
            const p = y * W + x;
            if (obs && zpix[p] < d) continue;
            seen = true;
            buf[p] = 0xff000000 |
              ((fb + ((((t >> 16) & 255) - fb) * f >> 8)) << 16) |
              ((fg + ((((t >> 8) & 255) - fg) * f >> 8)) << 8) |
              (fr + (((t & 255) - fr) * f >> 8));
          }
        }
        if (s.label && seen) r.labels.push({ text: s.label, colour: s.labelColour, x: s._sx, y: top, d });
      }
    };
    return r;
  }

  B.render = { create };
})(globalThis.Brastok = globalThis.Brastok || {});
