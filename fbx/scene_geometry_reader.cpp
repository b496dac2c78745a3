#include "fbx/scene_geometry_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <thread>

#include "fbx/document_parser.h"
#include "fbx/scene_properties.h"

namespace lumbrix::fbx {
namespace {

// Below this many decoded bytes in all, a second thread costs more than it saves.
constexpr uint64_t kParallelBytes = uint64_t(4) << 20;

// The array held by child `name` of `parent`, or nullptr when the child is missing or
// holds something other than an array (both read as an empty array).
const Property* arrayProperty(const Node& parent, std::string_view name) {
    const Node* child = parent.child(name);
    if (!child || child->propertyCount() < 1) return nullptr;
    const Property& property = child->property(0);
    return property.isArray() ? &property : nullptr;
}

// UV set 0 is the layer with the lowest index, whatever order the file lists them in.
const Node* firstUvLayer(const Node& geometry) {
    const Node* best = nullptr;
    int64_t bestIndex = 0;
    for (const Node* child = geometry.firstChild(); child; child = child->nextSibling()) {
        if (child->name() != "LayerElementUV") continue;
        int64_t index = child->propertyCount() > 0 ? child->property(0).toInt64() : 0;
        if (!best || index < bestIndex) {
            best = child;
            bestIndex = index;
        }
    }
    return best;
}

// One array the geometry reads, in the order its errors are told.
struct ArrayJob {
    enum class Element { float64, int32 };
    const Property* property = nullptr;
    Element element = Element::float64;
    void* out = nullptr;        // decode: room for the array's elements
    bool ok = true;
    std::string error;

    uint64_t bytes() const {
        return property ? property->arrayCount() * (element == Element::float64 ? 8 : 4) : 0;
    }
};

// What decodeGeometry reads, decided from the layers' texts before any array is decoded.
struct GeometryPlan {
    const Property* vertices = nullptr;
    const Property* polygonVertexIndex = nullptr;
    bool readsUvs = false;  // a UV layer whose modes this reader handles
    LayerMapping uvMapping = LayerMapping::unsupported;
    LayerReference uvReference = LayerReference::unsupported;
    const Property* uv = nullptr;
    const Property* uvIndex = nullptr;
    LayerMapping materialMapping = LayerMapping::unsupported;
    const Property* materials = nullptr;
};

GeometryPlan planGeometry(const Node& geometry) {
    GeometryPlan plan;
    plan.vertices = arrayProperty(geometry, "Vertices");
    plan.polygonVertexIndex = arrayProperty(geometry, "PolygonVertexIndex");
    if (const Node* layer = firstUvLayer(geometry)) {
        plan.uvMapping = layerMappingFromText(childText(*layer, "MappingInformationType"));
        const std::string_view referenceText = childText(*layer, "ReferenceInformationType");
        plan.uvReference = referenceText.empty() ? LayerReference::direct : layerReferenceFromText(referenceText);
        if (plan.uvMapping != LayerMapping::unsupported && plan.uvReference != LayerReference::unsupported) {
            plan.readsUvs = true;
            plan.uv = arrayProperty(*layer, "UV");
            if (plan.uvReference == LayerReference::indexToDirect) plan.uvIndex = arrayProperty(*layer, "UVIndex");
        }
    }
    if (const Node* layer = geometry.child("LayerElementMaterial")) {
        plan.materialMapping = layerMappingFromText(childText(*layer, "MappingInformationType"));
        if (plan.materialMapping != LayerMapping::byPolygon && plan.materialMapping != LayerMapping::allSame) {
            plan.materialMapping = LayerMapping::unsupported;
        } else {
            plan.materials = arrayProperty(*layer, "Materials");
        }
    }
    return plan;
}

// Corners and values are addressed with int throughout the interface.
bool fitsInt(const Property& property, std::string& error) {
    if (property.arrayCount() <= static_cast<uint64_t>(INT_MAX)) return true;
    error = "Array too large at byte " + std::to_string(property.offset());
    return false;
}

// Runs every job, on this thread and a second one when there is enough to share,
// each job on one thread only; `run(job, scratch)` does one.
template <class Run>
void runJobs(std::vector<ArrayJob>& jobs, Run&& run) {
    uint64_t total = 0;
    size_t busy = 0;
    for (const ArrayJob& job : jobs) {
        total += job.bytes();
        busy += job.bytes() != 0;
    }
    std::vector<ArrayJob*> mine, theirs;
    if (total >= kParallelBytes && busy >= 2 && std::thread::hardware_concurrency() > 1) {
        // Largest first, each to the side with less so far.
        std::vector<ArrayJob*> order;
        for (ArrayJob& job : jobs) order.push_back(&job);
        std::stable_sort(order.begin(), order.end(),
                         [](const ArrayJob* a, const ArrayJob* b) { return a->bytes() > b->bytes(); });
        uint64_t mineBytes = 0, theirBytes = 0;
        for (ArrayJob* job : order) {
            if (theirBytes < mineBytes) {
                theirs.push_back(job);
                theirBytes += job->bytes();
            } else {
                mine.push_back(job);
                mineBytes += job->bytes();
            }
        }
    } else {
        for (ArrayJob& job : jobs) mine.push_back(&job);
    }
    const auto runAll = [&run](const std::vector<ArrayJob*>& list) {
        PodArray<uint8_t> scratch;
        for (ArrayJob* job : list) run(*job, scratch);
    };
    if (theirs.empty()) {
        runAll(mine);
        return;
    }
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            runAll(theirs);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        runAll(mine);
    } catch (...) {
        worker.join();
        throw;
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

// The first failed job's error, in the jobs' order.
bool firstError(const std::vector<ArrayJob>& jobs, std::string& error) {
    for (const ArrayJob& job : jobs) {
        if (!job.ok) {
            error = job.error;
            return false;
        }
    }
    return true;
}

void addJob(std::vector<ArrayJob>& jobs, const Property* property, ArrayJob::Element element) {
    ArrayJob job;
    job.property = property;
    job.element = element;
    jobs.push_back(std::move(job));
}

std::vector<ArrayJob> jobsFor(const GeometryPlan& plan) {
    using Element = ArrayJob::Element;
    std::vector<ArrayJob> jobs;
    addJob(jobs, plan.vertices, Element::float64);
    addJob(jobs, plan.polygonVertexIndex, Element::int32);
    if (plan.readsUvs) {
        addJob(jobs, plan.uv, Element::float64);
        if (plan.uvReference == LayerReference::indexToDirect) addJob(jobs, plan.uvIndex, Element::int32);
    }
    if (plan.materialMapping != LayerMapping::unsupported) addJob(jobs, plan.materials, Element::int32);
    return jobs;
}

}  // namespace

bool decodeGeometry(const Node& geometry, DecodedGeometry& out, std::string& error) {
    const GeometryPlan plan = planGeometry(geometry);
    std::vector<ArrayJob> jobs = jobsFor(plan);

    // Storage first, sized from the declared counts, so the jobs only fill it.
    const auto count = [](const Property* property) {
        return property ? static_cast<size_t>(property->arrayCount()) : size_t(0);
    };
    PodArray<int> uvIndex;
    const auto allocate = [&](ArrayJob& job) -> void* {
        const size_t n = count(job.property);
        if (job.property == plan.vertices) {
            out.positions.reset((n + 2) / 3);  // room for n doubles
            return out.positions.data();
        }
        if (job.property == plan.polygonVertexIndex) {
            out.vertexIndices.reset(n);
            return out.vertexIndices.data();
        }
        if (job.property == plan.uv) {
            out.uvValues.reset((n + 1) / 2);
            return out.uvValues.data();
        }
        if (job.property == plan.uvIndex) {
            uvIndex.reset(n);
            return uvIndex.data();
        }
        out.materials.resize(n);
        return out.materials.data();
    };
    // Sizes are checked and storage is made in order, so the first problem in
    // the original order is the one reported.
    for (ArrayJob& job : jobs) {
        if (!job.property) continue;
        if (!fitsInt(*job.property, job.error)) {
            job.ok = false;
            continue;
        }
        try {
            job.out = allocate(job);
        } catch (const std::bad_alloc&) {
            job.ok = false;
            job.error = errorAt("Out of memory decoding the array", job.property->offset());
        }
    }
    runJobs(jobs, [](ArrayJob& job, PodArray<uint8_t>&) {
        if (!job.property || !job.ok) return;
        if (job.element == ArrayJob::Element::float64) {
            job.ok = job.property->decodeTo(static_cast<double*>(job.out), job.error);
        } else {
            job.ok = job.property->decodeTo(static_cast<int32_t*>(job.out), job.error);
        }
    });
    if (!firstError(jobs, error)) return false;

    out.positions.shrink(count(plan.vertices) / 3);
    splitPolygons(std::span<int>(out.vertexIndices.data(), out.vertexIndices.size()), out.polygons);

    if (plan.readsUvs) {
        out.uvValues.shrink(count(plan.uv) / 2);
        // A layer that declares its modes but holds no values is no UV set.
        const size_t corners = out.vertexIndices.size();
        if (out.uvValues.empty()) {
            out.hasUvs = false;
        } else if (plan.uvMapping == LayerMapping::byPolygonVertex &&
                   plan.uvReference == LayerReference::indexToDirect && uvIndex.size() >= corners &&
                   !uvIndex.empty()) {
            // Corner c's value index is the index array's entry c: keep the array itself.
            uvIndex.shrink(corners);
            out.uvIndices = std::move(uvIndex);
            out.hasUvs = true;
        } else {
            out.hasUvs = mapLayerToCorners(
                plan.uvMapping, plan.uvReference, std::span<const int>(uvIndex.data(), uvIndex.size()),
                out.uvValues.size(), std::span<const int>(out.vertexIndices.data(), out.vertexIndices.size()),
                out.polygons, out.uvIndices);
        }
        if (!out.hasUvs) out.uvValues.clear();
    }
    out.materialMapping = plan.materialMapping;
    return true;
}

bool checkGeometry(const Node& geometry, std::string& error) {
    const GeometryPlan plan = planGeometry(geometry);
    std::vector<ArrayJob> jobs = jobsFor(plan);
    for (ArrayJob& job : jobs) {
        if (job.property && !fitsInt(*job.property, job.error)) job.ok = false;
    }
    runJobs(jobs, [](ArrayJob& job, PodArray<uint8_t>& scratch) {
        if (!job.property || !job.ok) return;
        if (job.element == ArrayJob::Element::float64) {
            job.ok = job.property->checkDecodeAsDouble(scratch, job.error);
        } else {
            job.ok = job.property->checkDecodeAsInt32(scratch, job.error);
        }
    });
    return firstError(jobs, error);
}

}  // namespace lumbrix::fbx
