// QW2 decoding speed beside OpenJPEG on the same pictures at the same bits per pixel, one
// core. Also checks that the decoder's pixels equal a plain scalar decode bit for bit.
//   bench_qw2_decode [repetitions]
#include "bench_timing.h"
#include "support/qw2_picture.h"
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"
#include "wavelet/wavelet.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef QUILM_HAVE_OPENJPEG
#include <openjpeg.h>
#endif

namespace {

// The decoder's steps with the one-dimensional step run over every column and row.
std::vector<uint8_t> scalarDecode(const std::vector<uint8_t>& file) {
    Qw2Header header;
    if (checkQw2File(file.data(), file.size(), header)) return {};
    const int a = qw2SquareSide(header.width, header.height);
    const size_t count = size_t(a) * a;
    WaveletFilters filters;
    setupWaveletFilters(filters, header.filterKind);
    Qw2Lists lists;
    createQw2Lists(lists, a);
    std::vector<int32_t> coefficients(count);
    std::vector<float> planes(count * size_t(header.channels));
    std::vector<float> in(static_cast<size_t>(a)), out(static_cast<size_t>(a));
    const float* channelPlanes[4] = {};
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < header.channels; ++c) {
        float scale;
        int32_t budget, bytes;
        std::memcpy(&scale, &file[offset], 4);
        std::memcpy(&budget, &file[offset + 4], 4);
        std::memcpy(&bytes, &file[offset + 8], 4);
        decodeQw2Coefficients(&file[offset + 12], bytes, budget, lists, coefficients.data());
        float* plane = &planes[count * size_t(c)];
        const float multiplier = scale / 32767.0f;
        for (size_t i = 0; i < count; ++i)
            plane[i] = float(coefficients[i]) * multiplier;
        for (int B = 4; B <= a; B *= 2) {
            for (int x = 0; x < B; ++x) {
                for (int y = 0; y < B; ++y)
                    in[size_t(y)] = plane[size_t(y) * a + x];
                inverseWaveletStep(filters, in.data(), out.data(), B);
                for (int y = 0; y < B; ++y)
                    plane[size_t(y) * a + x] = out[size_t(y)];
            }
            for (int y = 0; y < B; ++y) {
                std::memcpy(in.data(), plane + size_t(y) * a, sizeof(float) * B);
                inverseWaveletStep(filters, in.data(), out.data(), B);
                std::memcpy(plane + size_t(y) * a, out.data(), sizeof(float) * B);
            }
        }
        channelPlanes[c] = plane;
        offset += 12 + size_t(bytes);
    }
    std::vector<uint8_t> pixels(size_t(header.width) * header.height * 4);
    convertQw2Pixels(channelPlanes, header.channels, a, header.width, header.height, pixels.data());
    destroyQw2Lists(lists);
    return pixels;
}

#ifdef QUILM_HAVE_OPENJPEG
struct MemoryStream {
    std::vector<uint8_t>* bytes;
    size_t pos;
};

OPJ_SIZE_T memRead(void* buffer, OPJ_SIZE_T n, void* user) {
    MemoryStream* s = static_cast<MemoryStream*>(user);
    if (s->pos >= s->bytes->size()) return OPJ_SIZE_T(-1);
    const size_t got = std::min(n, s->bytes->size() - s->pos);
    std::memcpy(buffer, s->bytes->data() + s->pos, got);
    s->pos += got;
    return got;
}
OPJ_SIZE_T memWrite(void* buffer, OPJ_SIZE_T n, void* user) {
    MemoryStream* s = static_cast<MemoryStream*>(user);
    if (s->bytes->size() < s->pos + n) s->bytes->resize(s->pos + n);
    std::memcpy(s->bytes->data() + s->pos, buffer, n);
    s->pos += n;
    return n;
}
OPJ_OFF_T memSkip(OPJ_OFF_T n, void* user) {
    MemoryStream* s = static_cast<MemoryStream*>(user);
    s->pos += size_t(n);
    return n;
}
OPJ_BOOL memSeek(OPJ_OFF_T n, void* user) {
    static_cast<MemoryStream*>(user)->pos = size_t(n);
    return OPJ_TRUE;
}

opj_stream_t* memoryStream(MemoryStream& s, bool input) {
    opj_stream_t* stream = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
    opj_stream_set_user_data(stream, &s, nullptr);
    opj_stream_set_user_data_length(stream, s.bytes->size());
    opj_stream_set_read_function(stream, memRead);
    opj_stream_set_write_function(stream, memWrite);
    opj_stream_set_skip_function(stream, memSkip);
    opj_stream_set_seek_function(stream, memSeek);
    return stream;
}

// JPEG 2000 code stream (9/7 wavelet, colour transform) of the picture at the given rate.
std::vector<uint8_t> encodeJ2k(const std::vector<uint8_t>& rgba, int w, int h, int comps,
                               double bpp) {
    opj_image_cmptparm_t params[4];
    std::memset(params, 0, sizeof params);
    for (int c = 0; c < comps; ++c) {
        params[c].dx = params[c].dy = 1;
        params[c].w = OPJ_UINT32(w);
        params[c].h = OPJ_UINT32(h);
        params[c].prec = 8;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(comps), params, OPJ_CLRSPC_SRGB);
    image->x1 = OPJ_UINT32(w);
    image->y1 = OPJ_UINT32(h);
    for (int c = 0; c < comps; ++c)
        for (int i = 0; i < w * h; ++i)
            image->comps[c].data[i] = rgba[size_t(i) * 4 + c];
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.tcp_rates[0] = float(8.0 * comps / bpp); // compression ratio against 8 bits per sample
    cp.cp_disto_alloc = 1;
    cp.irreversible = 1;
    cp.tcp_mct = 1;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_setup_encoder(codec, &cp, image);
    std::vector<uint8_t> bytes;
    MemoryStream s{&bytes, 0};
    opj_stream_t* stream = memoryStream(s, false);
    const bool ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) bytes.clear();
    return bytes;
}

// Decodes to interleaved 8-bit RGBA like the texture loader needs.
bool decodeJ2k(std::vector<uint8_t>& bytes, std::vector<uint8_t>& rgba) {
    MemoryStream s{&bytes, 0};
    opj_stream_t* stream = memoryStream(s, true);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t dp;
    opj_set_default_decoder_parameters(&dp);
    opj_setup_decoder(codec, &dp);
    opj_codec_set_threads(codec, 1);
    opj_image_t* image = nullptr;
    bool ok = opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
              opj_end_decompress(codec, stream);
    if (ok) {
        const size_t n = size_t(image->comps[0].w) * image->comps[0].h;
        rgba.resize(n * 4);
        for (size_t i = 0; i < n; ++i)
            for (OPJ_UINT32 c = 0; c < 4; ++c)
                rgba[i * 4 + c] = c < image->numcomps
                                      ? uint8_t(std::clamp(image->comps[c].data[i], 0, 255))
                                      : 255;
    }
    opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return ok;
}
#endif

void runCase(int w, int h, bool alpha, double bpp, int filter, int repetitions) {
    const auto picture = makeQw2TestPicture(w, h);
    Qw2EncodeOptions options;
    options.filterKind = filter;
    options.bitsPerPixel = bpp;
    options.alpha = alpha;
    std::vector<uint8_t> file;
    encodeQW2(picture.data(), w, h, options, file);
    const double mp = double(w) * h / 1e6;

    int32_t dw, dh;
    uint8_t* pixels = decodeQw2(file.data(), file.size(), dw, dh);
    const std::vector<uint8_t> reference = scalarDecode(file);
    const bool exact = pixels && reference.size() == size_t(dw) * dh * 4 &&
                       std::memcmp(pixels, reference.data(), reference.size()) == 0;
    const double psnr = picturePsnrDb(picture.data(), pixels, w, h, alpha ? 4 : 3);
    std::free(pixels);
    const double qw2Ms = bench::medianMs(repetitions, [&] {
        int32_t ww, hh;
        std::free(decodeQw2(file.data(), file.size(), ww, hh));
    });
    const double scalarMs =
        bench::medianMs(std::max(1, repetitions / 3), [&] { scalarDecode(file); });
    std::printf("%4dx%-4d %dch %.0f bpp kind %d | QW2 %6.1f ms %6.1f MP/s %5.2f dB %s | scalar "
                "%6.1f MP/s",
                w, h, alpha ? 4 : 3, bpp, filter, qw2Ms, mp / qw2Ms * 1e3, psnr,
                exact ? "bit-exact" : "MISMATCH", mp / scalarMs * 1e3);
#ifdef QUILM_HAVE_OPENJPEG
    std::vector<uint8_t> j2k = encodeJ2k(picture, w, h, alpha ? 4 : 3, bpp);
    std::vector<uint8_t> rgba;
    if (!j2k.empty() && decodeJ2k(j2k, rgba)) {
        const double jPsnr = picturePsnrDb(picture.data(), rgba.data(), w, h, alpha ? 4 : 3);
        const double jMs = bench::medianMs(repetitions, [&] { decodeJ2k(j2k, rgba); });
        std::printf(" | OpenJPEG %6.1f ms %6.1f MP/s %5.2f dB (%.2f bpp) | ratio %.2fx\n", jMs,
                    mp / jMs * 1e3, jPsnr, 8.0 * double(j2k.size()) / (double(w) * h), jMs / qw2Ms);
    } else {
        std::printf(" | OpenJPEG failed\n");
    }
#else
    std::printf("\n");
#endif
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::printf("QW2 decode vs OpenJPEG (one thread), processor time, median of %d runs\n",
                repetitions);
    for (double bpp : {1.0, 2.0, 4.0})
        for (int filter : {1, 3}) {
            runCase(1024, 1024, true, bpp, filter, repetitions);
            runCase(640, 480, false, bpp, filter, repetitions);
        }
    return 0;
}
