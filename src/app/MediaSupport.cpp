#include "app/MediaSupport.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaFormat>

namespace pictor {

TMediaSupport ProbeMediaSupport() {
    TMediaSupport media;
    media.WaveOutput = !QMediaDevices::audioOutputs().isEmpty();
    const auto codecs = QMediaFormat().supportedAudioCodecs(QMediaFormat::Decode);
    media.Mp3 = codecs.contains(QMediaFormat::AudioCodec::MP3);
    return media;
}

} // namespace pictor
