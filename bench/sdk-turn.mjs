// One text turn through the official JavaScript SDK, as a user's script would make it,
// against the emulator scripts/bench runs (EMULATOR_URL); nothing leaves the machine.
import { GoogleGenAI } from '@google/genai';

const ai = new GoogleGenAI({ apiKey: 'bench-key', httpOptions: { baseUrl: process.env.EMULATOR_URL } });
const answer = await ai.models.generateContent({
  model: 'gemini-2.5-flash',
  contents: 'Привет! Кратко: что такое простое число?',
});
if (!answer.text) process.exit(1);
console.log(answer.text.slice(0, 60));
