// Validates an OpenAPI document with tools independent of the host that wrote it:
//   1. the official OpenAPI schema of the document's version (bundled by
//      @seriousme/openapi-schema-validator), which checks the document's structure;
//   2. JSON Schema 2020-12's meta-schema (ajv) over every schema in it, which the official
//      schema leaves unchecked;
//   3. every local "$ref" followed to what it points at;
//   4. answers the server gave, each against its operation's 200 schema.
//
//   node validate.mjs DOCUMENT.json [METHOD PATH ANSWER.json]...
//   exit 0 when all is valid; 1 with the errors on stderr; 2 on misuse
import { readFileSync } from "node:fs";
import { Validator } from "@seriousme/openapi-schema-validator";
import Ajv2020 from "ajv/dist/2020.js";

const answers = process.argv.slice(3);
if (process.argv.length < 3 || answers.length % 3 !== 0) {
  console.error("usage: node validate.mjs DOCUMENT.json [METHOD PATH ANSWER.json]...");
  process.exit(2);
}
const text = readFileSync(process.argv[2], "utf8");
let document;
try {
  document = JSON.parse(text);
} catch (error) {
  console.error(`not JSON: ${error.message}`);
  process.exit(1);
}

const problems = [];
const validator = new Validator();
const result = await validator.validate(structuredClone(document));
if (!result.valid) {
  problems.push(`not a valid OpenAPI ${document.openapi} document:`);
  problems.push(JSON.stringify(result.errors, null, 2));
}

// Every value under a "schema" key, every component schema and every x-events payload.
function* schemas(node, path) {
  if (node === null || typeof node !== "object") return;
  for (const [key, value] of Object.entries(node)) {
    const at = `${path}/${key}`;
    const holdsSchemas = key === "schemas" || key === "x-events";
    if (key === "schema") yield [at, value];
    if (holdsSchemas && value && typeof value === "object") {
      for (const [name, schema] of Object.entries(value)) yield [`${at}/${name}`, schema];
    }
    yield* schemas(value, at);
  }
}
const ajv = new Ajv2020({ strict: false });
for (const [at, schema] of schemas(document, "#")) {
  if (!ajv.validateSchema(schema)) {
    problems.push(`${at} is not a JSON Schema: ${ajv.errorsText(ajv.errors)}`);
  }
}

function resolves(pointer) {
  let node = document;
  for (const part of pointer.slice(2).split("/")) {
    const key = decodeURIComponent(part).replaceAll("~1", "/").replaceAll("~0", "~");
    if (node === null || typeof node !== "object" || !(key in node)) return false;
    node = node[key];
  }
  return true;
}
function checkRefs(node, path) {
  if (node === null || typeof node !== "object") return;
  for (const [key, value] of Object.entries(node)) {
    if (key === "$ref" && typeof value === "string") {
      if (!value.startsWith("#/") || !resolves(value)) {
        problems.push(`${path}: "$ref" ${value} points at nothing in the document`);
      }
    } else {
      checkRefs(value, `${path}/${key}`);
    }
  }
}
checkRefs(document, "#");

// The document itself as the schema store: its "$ref"s resolve inside it.
const answerAjv = new Ajv2020({ strict: false, validateSchema: false });
answerAjv.addSchema(document, "openapi.json");
for (let index = 0; index < answers.length && problems.length === 0; index += 3) {
  const [method, path, file] = answers.slice(index, index + 3);
  const escaped = path.replaceAll("~", "~0").replaceAll("/", "~1");
  const pointer = `#/paths/${escaped}/${method.toLowerCase()}/responses/200/content/application~1json/schema`;
  if (!resolves(pointer)) {
    problems.push(`${method} ${path}: no JSON answer in the document`);
    continue;
  }
  const validate = answerAjv.compile({ $ref: `openapi.json${pointer}` });
  if (!validate(JSON.parse(readFileSync(file, "utf8")))) {
    problems.push(`${method} ${path} answered what its schema refuses: ` +
                  answerAjv.errorsText(validate.errors));
  }
}

if (problems.length > 0) {
  console.error(problems.join("\n"));
  process.exit(1);
}
console.log(`valid OpenAPI ${document.openapi} document`);
