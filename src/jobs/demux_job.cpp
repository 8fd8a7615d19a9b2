#include "jobs/demux_job.h"

#include <filesystem>
#include <set>

#include "core/file_output.h"
#include "core/platform_error.h"
#include "jobs/stream_labels.h"

namespace tolvane {

bool writesWave(const StreamBox& box, const OutputNaming& naming) {
    return box.kind == StreamKind::Audio && box.coding == StreamCoding::Lpcm &&
           naming.lpcm == LpcmOutput::Wave;
}

OpenOutput openOutput(StreamRegistry& streams, const StreamBox& box, const std::string& name,
                      const OutputNaming& naming) {
    OpenOutput output{box.kind, box.number, std::make_unique<FileOutput>(name), nullptr};
    StreamContext* context = streams.numbered(box.kind, box.number);
    if (context == nullptr) {
        return output;
    }
    context->out = output.file.get();
    if (writesWave(box, naming) && !context->codecPrivate.empty() &&
        !lpcmOrderKnown(context->codecPrivate)) {
        return output;  // named .lpcm: its samples stay as the disc has them
    }
    if (writesWave(box, naming)) {
        output.wave = std::make_unique<WavWriter>(*output.file, context->codecPrivate);
        context->out = output.wave.get();
    }
    return output;
}

void dropOutputs(StreamRegistry& streams) {
    streams.forEach([](StreamContext& context) { context.out = nullptr; });
}

std::vector<OutputWritten> closeOutputs(std::vector<OpenOutput>& outputs, bool complete) {
    if (complete) {
        for (OpenOutput& output : outputs) {
            if (output.wave) {
                output.wave->finish();
            }
            output.file->finishWriting();
        }
    }
    std::vector<OutputWritten> written;
    for (OpenOutput& output : outputs) {
        if (!complete) {
            // What a cancelled run wrote plays as far as it goes.
            if (output.wave && output.wave->format()) {
                try {
                    output.wave->finish();
                } catch (const std::exception&) {
                    // kept as it is: the part was never whole
                }
            }
            output.file->closeIncomplete();
            if (output.file->bytesWritten() == 0) {
                continue;  // no file was left for it
            }
        } else {
            output.file->close();
        }
        written.push_back(OutputWritten{output.kind, output.number, output.file->path(),
                                        output.file->bytesWritten()});
    }
    return written;
}

OutputNaming settledNaming(OutputNaming naming, SourceKind kind) {
    const SubpictureSource source = subpictureSource(kind);
    if (naming.subpictureFormat == SubpictureFormat::Automatic) {
        naming.subpictureFormat = source == SubpictureSource::DvdTitle ? SubpictureFormat::VobSub
                                  : source == SubpictureSource::HdDvd  ? SubpictureFormat::Pgs
                                                                       : SubpictureFormat::Sup;
    }
    if (naming.subpictureFormat == SubpictureFormat::Pgs && source != SubpictureSource::HdDvd) {
        throw JobError(ErrorCode::Usage,
                       "PGS subtitles are made of HD DVD subpictures: this source is a DVD, "
                       "write its subpictures as VobSub or .sup");
    }
    if (naming.subpictureFormat == SubpictureFormat::VobSub && source == SubpictureSource::HdDvd) {
        throw JobError(ErrorCode::Usage,
                       "VobSub subtitles hold the subpictures of DVDs: this source is HD DVD, "
                       "write its subpictures as .sup");
    }
    return naming;
}

std::string forcedFileName(const std::string& name) {
    const std::string base = withoutExtension(name);
    return base + ".forced" + name.substr(base.size());
}

void addCaptionOutputs(std::vector<OpenOutput>& outputs, const CaptionGatherer& captions,
                       const std::function<std::string(int number)>& base, int64_t zero,
                       const std::vector<std::string>& inputs, Reporter& log) {
    const auto add = [&](int number, const std::string& path, const std::string& text) {
        checkOutputTarget(path, inputs);
        log.log("Creating " + path);
        auto file = std::make_unique<FileOutput>(path);
        file->append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        outputs.push_back(OpenOutput{StreamKind::Video, number, std::move(file)});
    };
    for (int number = 0; number < 2; ++number) {
        const VideoCaptions* stream = captions.stream(number);
        if (stream == nullptr || stream->form() == CaptionForm::None) {
            continue;
        }
        const std::string name = base(number);
        const std::vector<std::string> channels =
            captionChannelNames(stream->decoder().channelsWithText());
        for (const std::string& channel : channels) {
            const int index = channel.back() - '1';
            add(number, name + "." + channel + ".srt",
                subRipText(stream->decoder().cues(index), zero));
        }
        if (!stream->fieldOneWords().empty()) {
            SccWriter scc(stream->pal());
            for (const TimedCaptionWord& word : stream->fieldOneWords()) {
                scc.word(word.first, word.second, word.time - zero);
            }
            add(number, name + ".scc", scc.text());
        }
    }
}

void addVobSubIndexes(std::vector<OpenOutput>& outputs, const std::array<VobSubWriter, 32>& writers,
                      const std::vector<StreamBox>& boxes, VobSubIndexInfo info,
                      const std::vector<std::string>& inputs, Reporter& log,
                      const std::array<VobSubWriter, 32>* forcedWriters) {
    // The list grows as indexes join it: the streams' outputs are those it had first.
    const size_t streams = outputs.size();
    for (size_t k = 0; k < streams; ++k) {
        const int number = outputs[k].number;
        if (outputs[k].kind != StreamKind::Subpicture || number < 0 ||
            number >= static_cast<int>(writers.size())) {
            continue;
        }
        info.language.clear();
        for (const StreamBox& box : boxes) {
            if (box.kind == StreamKind::Subpicture && box.number == number) {
                info.language = box.language;
            }
        }
        const std::string path = withoutExtension(outputs[k].file->path()) + ".idx";
        checkOutputTarget(path, inputs);
        log.log("Creating " + path);
        auto index = std::make_unique<FileOutput>(path);
        const std::array<VobSubWriter, 32>& from =
            outputs[k].forced && forcedWriters != nullptr ? *forcedWriters : writers;
        const std::string text = vobSubIndex(info, from[static_cast<size_t>(number)].entries());
        index->append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        outputs.push_back(OpenOutput{StreamKind::Subpicture, number, std::move(index)});
    }
}

void discardOutputs(StreamRegistry& streams, std::vector<OpenOutput>& outputs) {
    dropOutputs(streams);
    for (OpenOutput& output : outputs) {
        output.file->discard();
    }
    outputs.clear();
}

void closeOutputsAfterError(StreamRegistry& streams, std::vector<OpenOutput>& outputs) {
    dropOutputs(streams);
    for (OpenOutput& output : outputs) {
        output.file->closeIncomplete();
    }
}

OutputSink** outputSlot(StreamRegistry& streams, StreamKind kind, int number) {
    StreamContext* context = streams.numbered(kind, number);
    return context != nullptr ? &context->out : nullptr;
}

std::string outputFileName(const StreamBox& box, const std::string& prefix,
                           const OutputNaming& naming, bool rawLpcm) {
    std::string name = prefix + "." + safeFileNamePart(box.label);
    if (!box.language.empty()) {
        // Where muxers look for a track's language in its file's name.
        name += "." + safeFileNamePart(box.language);
    }
    if (!box.viewport.empty()) {
        name += "." + safeFileNamePart(box.viewport);
    }
    if (box.kind == StreamKind::Audio && naming.delayNames && box.delayMs) {
        // The convention muxing front ends read a track's delay from.
        name += " DELAY " + std::to_string(*box.delayMs) + "ms";
    }
    std::optional<std::string> extension;
    if (box.kind == StreamKind::Subpicture && naming.subpictureFormat == SubpictureFormat::VobSub) {
        extension = "sub";  // beside its .idx, whatever the other names say
    } else if (writesWave(box, naming) && rawLpcm) {
        extension = "lpcm";
    } else if (writesWave(box, naming)) {
        extension = "wav";
    } else if (naming.extensionByCoding && box.coding) {
        extension = codingExtension(*box.coding);
    }
    if (!extension) {
        extension = box.kind == StreamKind::Video   ? naming.videoExtension
                    : box.kind == StreamKind::Audio ? naming.audioExtension
                                                    : naming.subpictureExtension;
    }
    // Captions may come from playlist text: they must not name another folder.
    return name + "." + safeFileNamePart(*extension);
}

void checkOutputFileName(const std::string& name, PathStyle style) {
    if (fileNamePart(name, style).size() > kMaxFileNameBytes) {
        throw JobError(ErrorCode::Usage, "Cannot create \"" + name +
                                             "\": the file name is longer than " +
                                             std::to_string(kMaxFileNameBytes) + " bytes.");
    }
}

void checkOutputFolder(const std::string& prefix, const OutputNaming& naming,
                       const std::vector<std::string>& inputs, PathStyle style) {
    std::set<std::string> extensions = {naming.videoExtension,
                                        naming.audioExtension,
                                        naming.subpictureExtension,
                                        "sub",
                                        "idx",
                                        "wav"};
    if (naming.extensionByCoding) {
        for (int coding = 0; coding < kStreamCodings; ++coding) {
            extensions.insert(codingExtension(static_cast<StreamCoding>(coding)));
        }
    }
    const std::string folder = folderPart(prefix, style);
    const std::string base = fileNamePart(prefix, style) + ".";
    for (const std::string& extension : extensions) {
        checkOutputFileName(prefix + ".X." + extension, style);
    }
    std::error_code error;
    for (std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error), end;
         !error && entries != end; entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const size_t dot = name.rfind('.');
        if (name.rfind(base, 0) == 0 && dot >= base.size() &&
            extensions.contains(name.substr(dot + 1))) {
            checkOutputTarget(folder + name, inputs);
        }
    }
}

void DemuxJob::createOutputs(const DemuxInput& input, const OutputNaming& naming,
                             const std::string& prefix, const std::vector<std::string>& inputs,
                             std::vector<OpenOutput>& outputs) {
    struct Planned {
        const StreamBox* box;
        std::string name;
    };
    std::vector<Planned> planned;
    for (const StreamBox& box : input.boxes) {
        if (!box.chosen || outputSlot(records().streams, box.kind, box.number) == nullptr) {
            continue;
        }
        const StreamContext* stream = records().streams.numbered(box.kind, box.number);
        const bool rawLpcm = stream != nullptr && !stream->codecPrivate.empty() &&
                             !lpcmOrderKnown(stream->codecPrivate);
        planned.push_back({&box, outputFileName(box, prefix, naming, rawLpcm)});
    }
    // Every name is checked before the first file is created, so that a bad one cannot leave
    // the others truncated.
    for (const Planned& output : planned) {
        checkOutputFileName(output.name, context_.style);
        checkOutputTarget(output.name, inputs);
    }
    for (const Planned& output : planned) {
        outputs.push_back(openOutput(records().streams, *output.box, output.name, naming));
        context_.log.log("Creating " + output.name);
    }
}

DemuxResult DemuxJob::run(const DemuxInput& input) {
    JobRecords& state = records();
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.boxes);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    OutputNaming naming;
    bool vobSub = false;
    const auto writers = std::make_unique<std::array<VobSubWriter, 32>>();
    std::vector<OpenOutput> outputs;
    DemuxResult result;
    return ended(
        [&] {
            state.job.control.writing = true;
            storeBoxIds(state.streams, input.boxes);
            state.job.minPts = input.earliestPts.value_or(0);
            for (size_t n = 0; n < input.frameRates.size(); ++n) {
                if (StreamContext* video =
                        state.streams.numbered(StreamKind::Video, static_cast<int32_t>(n))) {
                    video->frameRate = input.frameRates[n];
                }
            }
            const JobNames names = namesFor(input.sourcePath, input.settings);
            result.baseName = names.baseName;
            const std::string prefix = outputPrefix(input.naming.folder, names.baseName, style);

            prepareOutputFolder(input.naming.folder);
            log.log(openingLine(sourceName, input.settings, false));
            log.activity(JobActivity::Opening);
            log.log(sizeReport(openSource(input.sourcePath, names, input.settings)));
            naming = settledNaming(input.naming, sourceKind_);
            vobSub = naming.subpictureFormat == SubpictureFormat::VobSub;
            checkOutputFolder(prefix, naming, inputs_, style);
            createOutputs(input, naming, prefix, inputs_, outputs);
            log.log("Demuxing...");
            log.activity(JobActivity::Demuxing, sourceName);
            runPass(PassMode::Demux, options, vobSub ? writers.get() : nullptr,
                    naming.subpictureFormat == SubpictureFormat::Pgs);
            closeSource();
            dropOutputs(state.streams);
            if (vobSub && !state.job.control.cancelled) {
                addVobSubIndexes(outputs, *writers, input.boxes,
                                 vobSubInfo(input.boxes, input.earliestPts.value_or(0)), inputs_,
                                 log);
            }
            result.outputs = closeOutputs(outputs, !state.job.control.cancelled);
            finish(result, true, names.second);
            return result;
        },
        [&](const JobError& error) {
            if (error.code() == ErrorCode::InvalidData) {
                discardOutputs(state.streams, outputs);  // nothing was a stream: no file is left
            }
            closeOutputsAfterError(state.streams, outputs);
        });
}

}  // namespace tolvane
