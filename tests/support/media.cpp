#include "support/media.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

namespace kestrel_test {

namespace {

struct CodecContext {
    AVCodecContext *ctx = nullptr;
    ~CodecContext() { avcodec_free_context(&ctx); }
};
struct Frame {
    AVFrame *f = av_frame_alloc();
    ~Frame() { av_frame_free(&f); }
};
struct Packet {
    AVPacket *p = av_packet_alloc();
    ~Packet() { av_packet_free(&p); }
};

// Sends one packet and drains what the decoder gives back; false on an error.
bool decodeOne(AVCodecContext *ctx, const std::string &data, Decoded &out) {
    Packet packet;
    packet.p->data = reinterpret_cast<uint8_t *>(const_cast<char *>(data.data()));
    packet.p->size = static_cast<int>(data.size());
    if (avcodec_send_packet(ctx, packet.p) < 0) return false;
    Frame frame;
    for (;;) {
        int r = avcodec_receive_frame(ctx, frame.f);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        if (frame.f->decode_error_flags) return false;
        out.width = frame.f->width;
        out.height = frame.f->height;
        out.ok = true;
    }
}

CodecContext openDecoder(AVCodecID id, bool strict = true) {
    CodecContext c;
    const AVCodec *codec = avcodec_find_decoder(id);
    c.ctx = avcodec_alloc_context3(codec);
    if (strict) c.ctx->err_recognition = AV_EF_EXPLODE | AV_EF_CRCCHECK | AV_EF_BITSTREAM;
    if (avcodec_open2(c.ctx, codec, nullptr) < 0) avcodec_free_context(&c.ctx);
    return c;
}

}  // namespace

std::string encodeJpeg(const JpegOptions &o) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(o.width);
    cinfo.image_height = static_cast<JDIMENSION>(o.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = o.subsample420 ? 2 : 1;
    cinfo.restart_interval = static_cast<unsigned>(o.restartInterval);
    cinfo.write_JFIF_header = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(o.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < o.width; ++x) {
            row[x * 3] = static_cast<unsigned char>(x * 4);
            row[x * 3 + 1] = static_cast<unsigned char>(cinfo.next_scanline * 5);
            row[x * 3 + 2] = static_cast<unsigned char>((x ^ cinfo.next_scanline) * 3);
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char *>(buffer), size);
    free(buffer);
    return out;
}

std::string scanData(const std::string &jpeg) {
    size_t sos = jpeg.find("\xFF\xDA");
    if (sos == std::string::npos || sos + 4 > jpeg.size()) return {};
    size_t length =
        static_cast<unsigned char>(jpeg[sos + 2]) << 8 | static_cast<unsigned char>(jpeg[sos + 3]);
    return jpeg.substr(sos + 2 + length);
}

std::string quantTables(const std::string &jpeg) {
    std::string tables;
    for (size_t at = jpeg.find("\xFF\xDB"); at != std::string::npos;
         at = jpeg.find("\xFF\xDB", at + 2)) {
        size_t length = static_cast<unsigned char>(jpeg[at + 2]) << 8 |
                        static_cast<unsigned char>(jpeg[at + 3]);
        for (size_t p = at + 4; p + 65 <= at + 2 + length; p += 65)
            tables += jpeg.substr(p + 1, 64);
    }
    return tables;
}

namespace {

AVCodecID codecId(TestCodec codec) {
    switch (codec) {
        case TestCodec::H264:
            return AV_CODEC_ID_H264;
        case TestCodec::H265:
            return AV_CODEC_ID_HEVC;
        case TestCodec::Mpeg4:
            break;
    }
    return AV_CODEC_ID_MPEG4;
}

}  // namespace

std::vector<std::string> encodeMpeg4(int width, int height, int frames, int gop) {
    return encodeVideo(TestCodec::Mpeg4, width, height, frames, gop);
}

std::vector<std::string> encodeVideo(TestCodec kind, int width, int height, int frames, int gop) {
    std::vector<std::string> out;
    const AVCodec *codec = avcodec_find_encoder(codecId(kind));
    if (!codec) return out;
    CodecContext c;
    c.ctx = avcodec_alloc_context3(codec);
    c.ctx->width = width;
    c.ctx->height = height;
    c.ctx->time_base = {1, 30};
    c.ctx->framerate = {30, 1};
    c.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    c.ctx->gop_size = gop;
    c.ctx->max_b_frames = 0;
    c.ctx->bit_rate = 400'000;
    AVDictionary *options = nullptr;
    if (kind != TestCodec::Mpeg4) av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics
    if (kind == TestCodec::H264) {
        av_dict_set(&options, "preset", "ultrafast", 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
    } else if (kind == TestCodec::H265) {
        av_dict_set(&options, "preset", "ultrafast", 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
        av_dict_set(&options, "x265-params", "log-level=error", 0);
    }
    const int opened = avcodec_open2(c.ctx, codec, &options);
    av_dict_free(&options);
    if (opened < 0) return out;
    Frame frame;
    frame.f->format = AV_PIX_FMT_YUV420P;
    frame.f->width = width;
    frame.f->height = height;
    av_frame_get_buffer(frame.f, 0);
    Packet packet;
    auto drain = [&] {
        while (avcodec_receive_packet(c.ctx, packet.p) == 0) {
            out.emplace_back(reinterpret_cast<char *>(packet.p->data),
                             static_cast<size_t>(packet.p->size));
            av_packet_unref(packet.p);
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame.f);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                frame.f->data[0][y * frame.f->linesize[0] + x] =
                    static_cast<uint8_t>(x + y + i * 3);
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x) {
                frame.f->data[1][y * frame.f->linesize[1] + x] =
                    static_cast<uint8_t>(128 + y + i * 2);
                frame.f->data[2][y * frame.f->linesize[2] + x] =
                    static_cast<uint8_t>(64 + x + i * 5);
            }
        frame.f->pts = i;
        avcodec_send_frame(c.ctx, frame.f);
        drain();
    }
    avcodec_send_frame(c.ctx, nullptr);
    drain();
    return out;
}

Decoded decodeJpeg(const std::string &jpeg) {
    Decoded d;
    CodecContext c = openDecoder(AV_CODEC_ID_MJPEG);
    if (!c.ctx) return d;
    if (!decodeOne(c.ctx, jpeg, d)) d.ok = false;
    return d;
}

Decoded decodeMpeg4(const std::vector<std::string> &frames) {
    return decodeVideo(TestCodec::Mpeg4, frames);
}

Decoded decodeVideo(TestCodec codec, const std::vector<std::string> &frames) {
    Decoded d;
    CodecContext c = openDecoder(codecId(codec));
    if (!c.ctx) return d;
    for (const std::string &f : frames) {
        Decoded one;
        if (!decodeOne(c.ctx, f, one)) return Decoded{};
        if (one.ok) d = one;
    }
    return d;
}

DecodeCount decodeConcealing(TestCodec codec, const std::vector<std::string> &frames) {
    DecodeCount count;
    CodecContext c = openDecoder(codecId(codec), false);
    if (!c.ctx) return count;
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);  // concealment is expected here, and said for every block
    Frame frame;
    const auto take = [&] {
        while (avcodec_receive_frame(c.ctx, frame.f) == 0) {
            ++count.pictures;
            if (frame.f->decode_error_flags != 0) ++count.damaged;
        }
    };
    for (const std::string &f : frames) {
        Packet packet;
        packet.p->data = reinterpret_cast<uint8_t *>(const_cast<char *>(f.data()));
        packet.p->size = static_cast<int>(f.size());
        if (avcodec_send_packet(c.ctx, packet.p) < 0) {
            ++count.damaged;
            continue;
        }
        take();
    }
    avcodec_send_packet(c.ctx, nullptr);  // the pictures it still holds, as at the end of a file
    take();
    av_log_set_level(logLevel);
    return count;
}

}  // namespace kestrel_test
