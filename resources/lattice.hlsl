// The Lattice: a 128 x 128 x 128 heatmap of Sleep(1) results, ray-marched through a box.
// x = late-% column, y = latency row, z = height (how many samples landed in the cell).
//
// Written for the narrowest HLSL compiler it must run under (Wine's): no loops, no user
// functions, no ternary operator, no break or return inside a branch, and none of sin, cos,
// exp, log or sqrt. The block between the STEP BEGIN and STEP END lines is repeated STEPS
// times by the program (straight-line code), the early exit is a mask every step multiplies
// by, and the missing functions are polynomials whose coefficients arrive as #defines
// (QV_SIN3 ... QV_LOG5) from the same table the tests check.
//
// Compile time grows with the square of the straight-line length under that compiler and under
// a software rasteriser's shader compiler, so the march is cut into passes: "init" sets every
// ray up, "ps" advances it STEPS cells and is drawn again until the march is done, keeping the
// ray's state in four float targets between passes, and "compose" turns the state into colour.

cbuffer Frame : register(b0) {
    float time;
    float res;
    float aspect;  // the picture's width over its height
    float pad1;
};

Texture2D histTex : register(t0);
Texture2D statTex : register(t1);
// The march state: cell.xyz and the ray distance; the next boundary per axis and the alive
// mask; the heat colour and opacity; the mesh opacity, whether the ray hit the box, its exit.
Texture2D state0 : register(t2);
Texture2D state1 : register(t3);
Texture2D state2 : register(t4);
Texture2D state3 : register(t5);
SamplerState samp0 : register(s0);

#define BLUEPRINT float3(0.0706, 0.2275, 0.5686)
#define ELECTRIC float3(0.2039, 0.4824, 1.0)
#define ICY float3(0.5529, 0.7216, 1.0)
#define COOLWHITE float3(0.9569, 0.9686, 1.0)
#define MESH float3(0.55, 0.57, 0.60)

// out = sin(x): reduce to [-pi, pi) with floor, fold into [-pi/2, pi/2] with masks.
#define QV_SIN(out, x) { \
    float qt = (x) * 0.15915494 + 0.5; \
    float qy = (qt - floor(qt) - 0.5) * 6.2831853; \
    qy = qy + (float)(qy > 1.5707963) * (3.1415927 - 2 * qy) + (float)(qy < -1.5707963) * (-3.1415927 - 2 * qy); \
    float qy2 = qy * qy; \
    out = qy * (1 + qy2 * (QV_SIN3 + qy2 * (QV_SIN5 + qy2 * QV_SIN7))); }

// out = log2(n) for a count n, clamped to 1..64 (the voxel scale is full from 64 samples on): the
// power of two below it by comparisons, the rest by a polynomial.
#define QV_LOG2_64(out, n) { \
    float qm = clamp(n, 1, 64); \
    float3 qa = (float3)(qm >= float3(2, 4, 8)); \
    float3 qb = (float3)(qm >= float3(16, 32, 64)); \
    float qp = (1 + qa.x) * (1 + qa.y) * (1 + qa.z) * (1 + qb.x) * (1 + qb.y) * (1 + qb.z); \
    float ql = qm / qp - 1; \
    out = qa.x + qa.y + qa.z + qb.x + qb.y + qb.z + ql * (QV_LOG1 + ql * (QV_LOG2 + ql * (QV_LOG3 + ql * (QV_LOG4 + ql * QV_LOG5)))); }

// out = exp(-x) for x >= 0 as (1 - x/256)^256: within 1.1e-3 of the curve, and zero from x = 256 on
// where exp(-x) is far below anything visible. pow is a costly call per march step on a software
// rasteriser; this is eight multiplications.
#define QV_EXPNEG(out, x) { \
    out = saturate(1 - (x) * 0.00390625); \
    out = out * out; out = out * out; out = out * out; out = out * out; \
    out = out * out; out = out * out; out = out * out; out = out * out; }

// The camera for a pixel: a slow turn with a gentle nod and roll. Declares ndc, ro and rd.
#define QV_CAMERA(uvIn) \
    float2 ndc = float2(((uvIn).x * 2 - 1) * aspect, 1 - (uvIn).y * 2); \
    float yaw = time * 0.32; \
    float sPitch; QV_SIN(sPitch, time * 0.21); \
    float pitch = 0.40 + 0.16 * sPitch; \
    float sRoll; QV_SIN(sRoll, time * 0.17); \
    float roll = 0.08 * sRoll; \
    float sy; QV_SIN(sy, yaw); \
    float cy; QV_SIN(cy, yaw + 1.5707963); \
    float sp; QV_SIN(sp, pitch); \
    float cp; QV_SIN(cp, pitch + 1.5707963); \
    float sr; QV_SIN(sr, roll); \
    float cr; QV_SIN(cr, roll + 1.5707963); \
    float3 ro = float3(0, 0, -4.5); \
    float3 rd = normalize(float3(ndc * 0.70, 1.45)); \
    ro = float3(ro.x * cy + ro.z * sy, ro.y, -ro.x * sy + ro.z * cy); \
    rd = float3(rd.x * cy + rd.z * sy, rd.y, -rd.x * sy + rd.z * cy); \
    ro = float3(ro.x, ro.y * cp - ro.z * sp, ro.y * sp + ro.z * cp); \
    rd = float3(rd.x, rd.y * cp - rd.z * sp, rd.y * sp + rd.z * cp); \
    ro = float3(ro.x * cr - ro.y * sr, ro.x * sr + ro.y * cr, ro.z); \
    rd = float3(rd.x * cr - rd.y * sr, rd.x * sr + rd.y * cr, rd.z); \
    float3 inv = 1 / rd;

struct VsOut {
    float4 pos : SV_Position;
    float2 uv : TEXCOORD0;
};

struct MarchState {
    float4 s0 : SV_Target0;
    float4 s1 : SV_Target1;
    float4 s2 : SV_Target2;
    float4 s3 : SV_Target3;
};

// One oversized triangle covering the target, built from the vertex id.
VsOut vs(uint id : SV_VertexID) {
    VsOut o;
    float2 p = float2((float)((id << 1) & 2), (float)(id & 2));
    o.pos = float4(p * 2 - 1, 0, 1);
    o.uv = float2(p.x, 1 - p.y);
    return o;
}

// Where each ray enters the box [-1.02, 1.02]^3 and the digital differential analyser's start.
MarchState init(VsOut input) {
    QV_CAMERA(input.uv)
    float3 ta = (-1.02 - ro) * inv;
    float3 tb = (1.02 - ro) * inv;
    float3 tNear = min(ta, tb);
    float3 tFar = max(ta, tb);
    float tEnter = max(max(tNear.x, tNear.y), max(tNear.z, 0));
    float tExit = min(min(tFar.x, tFar.y), tFar.z);
    float hit = (float)(tExit > tEnter);
    // The grid fills [-1, 1]^3 in 128 cells a side.
    float3 entry = ro + rd * (tEnter + 0.0001);
    float3 cell = clamp(floor((entry + 1) * 64), 0, 127);
    float3 tMax = (((cell + (float3)(rd > 0)) * 0.015625 - 1) - ro) * inv;
    MarchState o;
    o.s0 = float4(cell, tEnter);
    o.s1 = float4(tMax, hit);
    o.s2 = float4(0, 0, 0, 0);
    o.s3 = float4(0, hit, tExit, 0);
    return o;
}

// STEPS cells further along every ray still alive.
MarchState ps(VsOut input) {
    int3 px = int3(int2(input.pos.xy), 0);
    float4 a = state0.Load(px);
    float4 b = state1.Load(px);
    float4 c = state2.Load(px);
    float4 d = state3.Load(px);
    float3 cell = a.xyz;
    float tCur = a.w;
    float3 tMax = b.xyz;
    float alive = b.w;
    float3 heat = c.rgb;
    float heatA = c.a;
    float meshA = d.x;
    float tExit = d.z;
    if (alive > 0.5) {
        QV_CAMERA(input.uv)
        float3 stepDir = (float3)(rd > 0) * 2 - 1;
        float3 tDelta = abs(0.015625 * inv);

        // STEP BEGIN
        {
            // The box exit ends the march: outside it the loads return zeros and nothing is added.
            float live = alive * (float)(tCur < tExit);
            int3 ci = int3(cell);
            float4 h = histTex.Load(int3(ci.x, ci.y, 0));
            float4 s0 = statTex.Load(int3(ci.x, 0, 0));
            float4 s1 = statTex.Load(int3(ci.x, 1, 0));
            float tNext = min(min(tMax.x, tMax.y), tMax.z);
            float3 mid = (ro + rd * ((tCur + tNext) * 0.5) + 1) * 64;

            // Ghost mesh on the cell faces, stronger on every 8th plane, and a rim at the box edges.
            float3 frac3 = mid - floor(mid);
            float3 faceDist = min(frac3, 1 - frac3);
            float3 plane = floor(mid + 0.5);
            float3 major = (float3)(abs(plane - 8 * floor(plane / 8)) < 0.5);
            float3 meshT; QV_EXPNEG(meshT, faceDist * faceDist * lerp(520, 160, major));
            float3 weights = meshT * lerp(0.0018, 0.007, major);
            weights = weights * (float3)(weights > 0.0004);
            float3 edge = 1 - abs(mid / 64 - 1);
            float eMin = min(min(edge.x, edge.y), edge.z);
            float eMid = edge.x + edge.y + edge.z - eMin - max(max(edge.x, edge.y), edge.z);
            float rim; QV_EXPNEG(rim, (eMin * eMin + eMid * eMid) * 140);
            meshA = meshA + (weights.x + weights.y + weights.z + rim * 0.012) * live;

            float row = cell.y / 127;
            float present = (float)(s1.z > 0.5) * live;

            // The membrane at the back-to-back mean, blue toward icy as the column misses more ticks.
            float dy = (row - s0.x) / max(s0.w, 0.0125);
            float membrane; QV_EXPNEG(membrane, dy * dy);
            float aMembrane = 0.42 * membrane * present;
            heat = heat + lerp(ELECTRIC, ICY, saturate(s1.x)) * aMembrane * (1 - heatA);
            heatA = heatA + aMembrane * (1 - heatA);

            // The idle-gap mean, where it differs from the back-to-back one, and the p99.
            float aIdle = 0.50 * (float)(abs(s0.y - s0.x) * 127 > 1.5) * (float)(abs(row - s0.y) * 127 < 0.55) * present;
            heat = heat + ICY * aIdle * (1 - heatA);
            heatA = heatA + aIdle * (1 - heatA);
            float aP99 = 0.55 * (float)(abs(row - s0.z) * 127 < 0.55) * present;
            heat = heat + lerp(ICY, COOLWHITE, 0.35) * aP99 * (1 - heatA);
            heatA = heatA + aP99 * (1 - heatA);

            // The voxel column: as high as the cell's count on a log scale (full from 64 samples).
            float lg; QV_LOG2_64(lg, h.x);
            float fillHeight = lerp(0.03125, 1, saturate(lg / 6));
            float aVoxel = 0.94 * (float)(h.x >= 1) * (float)((cell.z + 0.5) / 128 < fillHeight) * live;
            float3 cVoxel = lerp(BLUEPRINT, ELECTRIC, 0.5 + 0.5 * saturate(lg / 5.5849625));
            cVoxel = lerp(cVoxel, ICY, saturate(h.y));
            cVoxel = lerp(cVoxel, lerp(ICY, COOLWHITE, 0.4), saturate(h.z));
            heat = heat + cVoxel * aVoxel * (1 - heatA);
            heatA = heatA + aVoxel * (1 - heatA);

            // On to the next cell along the axis whose boundary comes first.
            float mx = (float)(tMax.x <= tMax.y) * (float)(tMax.x <= tMax.z);
            float my = (1 - mx) * (float)(tMax.y <= tMax.z);
            float3 moveMask = float3(mx, my, 1 - mx - my) * live;
            tCur = tCur + (tNext - tCur) * live;
            cell = cell + stepDir * moveMask;
            tMax = tMax + tDelta * moveMask;
            alive = live * (float)(heatA < 0.97);
        }
        // STEP END
    }
    MarchState o;
    o.s0 = float4(cell, tCur);
    o.s1 = float4(tMax, alive);
    o.s2 = float4(heat, heatA);
    o.s3 = float4(meshA, d.y, tExit, 0);
    return o;
}

// The picture: background, heat in front of it, the faint mesh over both.
float4 compose(VsOut input) : SV_Target {
    int3 px = int3(int2(input.pos.xy), 0);
    float4 c = state2.Load(px);
    float4 d = state3.Load(px);
    float2 ndc = float2(input.uv.x * 2 - 1, 1 - input.uv.y * 2);
    float vignette = 1 - 0.35 * (ndc.x * ndc.x + ndc.y * ndc.y);
    float3 background = float3(0.012, 0.028, 0.07) * vignette;
    float3 color = background * (1 - c.a) + c.rgb;
    float mesh = min(d.x, 0.045) * (1 - c.a) * d.y;
    color = lerp(color, MESH, mesh);
    return float4(saturate(color), 1);
}
